/* A small live line chart on a canvas: a few series over time, auto-scaled, with a legend.
 * Hand-written because it needs only lines, axes and a legend. */
(function () {
  'use strict';

  const COLORS = ['#0b6bcb', '#d9480f', '#2b8a3e', '#862e9c', '#c2255c', '#0c8599', '#e67700', '#495057'];
  const MAX_POINTS = 120;

  function niceStep(range, ticks) {
    const raw = range / ticks;
    const magnitude = Math.pow(10, Math.floor(Math.log10(raw)));
    const residual = raw / magnitude;
    const nice = residual >= 5 ? 10 : residual >= 2 ? 5 : residual >= 1 ? 2 : 1;
    return nice * magnitude;
  }

  function formatTick(value, step, mark) {
    const decimals = step >= 1 ? 0 : Math.min(6, Math.ceil(-Math.log10(step)));
    return value.toFixed(decimals).replace('.', mark);
  }

  function clock(ms) {
    const d = new Date(ms);
    return [d.getHours(), d.getMinutes(), d.getSeconds()].map((n) => String(n).padStart(2, '0')).join(':');
  }

  class LineChart {
    constructor(canvas) {
      this.canvas = canvas;
      this.series = new Map(); // key -> { label, color, points: [[t, v]] }
      this.samples = 0;
      this.emptyText = '';
      this.decimalMark = '.';
    }

    setSeries(entries) {
      const next = new Map();
      entries.forEach(({ key, label }, i) => {
        const old = this.series.get(key);
        next.set(key, { label, color: COLORS[i % COLORS.length], points: old ? old.points : [] });
      });
      this.series = next;
      this.draw();
    }

    clear() {
      this.series.forEach((s) => (s.points = []));
      this.samples = 0;
      this.draw();
    }

    push(time, valuesByKey) {
      this.series.forEach((s, key) => {
        const v = valuesByKey[key];
        if (typeof v === 'number' && Number.isFinite(v)) {
          s.points.push([time, v]);
          if (s.points.length > MAX_POINTS) s.points.shift();
        }
      });
      this.samples++;
      this.draw();
    }

    latest() {
      return Array.from(this.series.values()).map((s) => ({ label: s.label, value: s.points.length ? s.points[s.points.length - 1][1] : null }));
    }

    bounds() {
      let tMin = Infinity, tMax = -Infinity, vMin = Infinity, vMax = -Infinity;
      this.series.forEach((s) => s.points.forEach(([t, v]) => {
        tMin = Math.min(tMin, t);
        tMax = Math.max(tMax, t);
        vMin = Math.min(vMin, v);
        vMax = Math.max(vMax, v);
      }));
      if (vMin === Infinity) return null;
      if (vMin === vMax) {
        const pad = Math.abs(vMin) > 1 ? Math.abs(vMin) * 0.1 : 1;
        vMin -= pad;
        vMax += pad;
      }
      if (tMin === tMax) tMax = tMin + 1000;
      return { tMin, tMax, vMin, vMax };
    }

    draw() {
      const canvas = this.canvas;
      const ratio = window.devicePixelRatio || 1;
      const width = canvas.clientWidth || 600;
      const height = canvas.clientHeight || 260;
      if (canvas.width !== Math.round(width * ratio)) canvas.width = Math.round(width * ratio);
      if (canvas.height !== Math.round(height * ratio)) canvas.height = Math.round(height * ratio);
      const ctx = canvas.getContext('2d');
      ctx.setTransform(ratio, 0, 0, ratio, 0, 0);
      ctx.clearRect(0, 0, width, height);
      ctx.font = '12px "DejaVu Sans", sans-serif';

      const legendHeight = this.drawLegend(ctx, width);
      const box = { left: 64, right: width - 16, top: legendHeight + 8, bottom: height - 26 };
      const b = this.bounds();
      ctx.strokeStyle = '#c9d1dc';
      ctx.strokeRect(box.left, box.top, box.right - box.left, box.bottom - box.top);
      if (!b) {
        ctx.fillStyle = '#5b6578';
        ctx.textAlign = 'center';
        ctx.fillText(this.emptyText, (box.left + box.right) / 2, (box.top + box.bottom) / 2);
        return;
      }
      const step = niceStep(b.vMax - b.vMin, 5);
      const lo = Math.floor(b.vMin / step) * step;
      const hi = Math.ceil(b.vMax / step) * step;
      const x = (t) => box.left + ((t - b.tMin) / (b.tMax - b.tMin)) * (box.right - box.left);
      const y = (v) => box.bottom - ((v - lo) / (hi - lo)) * (box.bottom - box.top);

      ctx.textAlign = 'right';
      ctx.textBaseline = 'middle';
      for (let v = lo; v <= hi + step / 2; v += step) {
        ctx.strokeStyle = '#edf0f4';
        ctx.beginPath();
        ctx.moveTo(box.left, y(v));
        ctx.lineTo(box.right, y(v));
        ctx.stroke();
        ctx.fillStyle = '#5b6578';
        ctx.fillText(formatTick(v, step, this.decimalMark), box.left - 6, y(v));
      }
      ctx.textBaseline = 'top';
      ctx.textAlign = 'left';
      ctx.fillText(clock(b.tMin), box.left, box.bottom + 6);
      ctx.textAlign = 'right';
      ctx.fillText(clock(b.tMax), box.right, box.bottom + 6);

      this.series.forEach((s) => {
        if (!s.points.length) return;
        ctx.strokeStyle = s.color;
        ctx.fillStyle = s.color;
        ctx.lineWidth = 2;
        ctx.beginPath();
        s.points.forEach(([t, v], i) => (i ? ctx.lineTo(x(t), y(v)) : ctx.moveTo(x(t), y(v))));
        ctx.stroke();
        const [lt, lv] = s.points[s.points.length - 1];
        ctx.beginPath();
        ctx.arc(x(lt), y(lv), 3, 0, Math.PI * 2);
        ctx.fill();
      });
      ctx.lineWidth = 1;
    }

    drawLegend(ctx, width) {
      let xPos = 64;
      let row = 0;
      ctx.textBaseline = 'middle';
      ctx.textAlign = 'left';
      this.series.forEach((s) => {
        const w = ctx.measureText(s.label).width + 26;
        if (xPos + w > width - 16 && xPos > 64) {
          xPos = 64;
          row++;
        }
        const yPos = 10 + row * 18;
        ctx.fillStyle = s.color;
        ctx.fillRect(xPos, yPos - 4, 14, 8);
        ctx.fillStyle = '#1c2433';
        ctx.fillText(s.label, xPos + 18, yPos);
        xPos += w;
      });
      return this.series.size ? 10 + (row + 1) * 18 : 4;
    }
  }

  window.Vexo.LineChart = LineChart;
})();
