// A network device's side of discovery, for the browser test: answers every request datagram
// on UDP port 30303 with the four-line text given as the first argument. Run it only inside a
// network namespace made for the test. Prints "ready" once it listens.
import dgram from 'node:dgram';

const answer = Buffer.from(process.argv[2] || '', 'utf8');
const socket = dgram.createSocket({ type: 'udp4', reuseAddr: true });
socket.on('message', (message, peer) => {
  if (message.length === 1 && message[0] === 0x44) socket.send(answer, peer.port, peer.address);
});
socket.bind(30303, '0.0.0.0', () => console.log('ready'));
