/* A small live line chart on a canvas: a few series over time, auto-scaled, with a legend.
 * It can be paused (points keep coming in, the picture stands still), zoomed to a time range
 * by dragging across it or with the keys + − ← → and 0 while it has the focus, and saved as
 * a PNG picture. Hand-written because it needs only lines, axes and a legend. */
(function () {
  'use strict';

  const COLORS = ['#0b6bcb', '#d9480f', '#2b8a3e', '#862e9c', '#c2255c', '#0c8599', '#e67700', '#495057'];
  // An hour at one point a second.
  const MAX_POINTS = 3600;
  const MIN_DRAG_PX = 6;
  const MIN_SPAN_MS = 200;

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
      this.paused = false;
      this.zoom = null; // { from, to } in ms, or null for every point
      this.onZoom = null; // called when the zoom changes
      this.layout = null; // where the last picture put the plot: { box, tMin, tMax }
      this.drag = null;
      canvas.addEventListener('pointerdown', (e) => this.startDrag(e));
      canvas.addEventListener('pointermove', (e) => this.moveDrag(e));
      canvas.addEventListener('pointerup', (e) => this.endDrag(e));
      canvas.addEventListener('pointercancel', () => this.cancelDrag());
      canvas.addEventListener('keydown', (e) => this.onKey(e));
    }

    setSeries(entries) {
      const next = new Map();
      entries.forEach(({ key, label }, i) => {
        const old = this.series.get(key);
        next.set(key, { label, color: COLORS[i % COLORS.length], points: old ? old.points : [] });
      });
      this.series = next;
      this.draw(true);
    }

    clear() {
      this.series.forEach((s) => (s.points = []));
      this.samples = 0;
      this.setZoom(null);
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

    setPaused(paused) {
      this.paused = paused;
      this.draw(true);
    }

    setZoom(range) {
      this.zoom = range;
      this.draw(true);
      if (this.onZoom) this.onZoom(range);
    }

    latest() {
      return Array.from(this.series.values()).map((s) => ({ label: s.label, value: s.points.length ? s.points[s.points.length - 1][1] : null }));
    }

    // The time range of every point kept.
    timeSpan() {
      let tMin = Infinity;
      let tMax = -Infinity;
      this.series.forEach((s) => {
        if (!s.points.length) return;
        tMin = Math.min(tMin, s.points[0][0]);
        tMax = Math.max(tMax, s.points[s.points.length - 1][0]);
      });
      return tMin === Infinity ? null : { from: tMin, to: tMax };
    }

    bounds() {
      const span = this.zoom || this.timeSpan();
      if (!span) return null;
      let vMin = Infinity, vMax = -Infinity;
      this.series.forEach((s) => s.points.forEach(([t, v]) => {
        if (t < span.from || t > span.to) return;
        vMin = Math.min(vMin, v);
        vMax = Math.max(vMax, v);
      }));
      if (vMin === Infinity) return null;
      if (vMin === vMax) {
        const pad = Math.abs(vMin) > 1 ? Math.abs(vMin) * 0.1 : 1;
        vMin -= pad;
        vMax += pad;
      }
      return { tMin: span.from, tMax: span.to === span.from ? span.from + 1000 : span.to, vMin, vMax };
    }

    // force: draw even while paused (a new series, a zoom, the page shown again).
    draw(force) {
      if (this.paused && !force) return;
      const canvas = this.canvas;
      const ratio = window.devicePixelRatio || 1;
      const width = canvas.clientWidth || 600;
      const height = canvas.clientHeight || 260;
      if (canvas.width !== Math.round(width * ratio)) canvas.width = Math.round(width * ratio);
      if (canvas.height !== Math.round(height * ratio)) canvas.height = Math.round(height * ratio);
      const ctx = canvas.getContext('2d');
      ctx.setTransform(ratio, 0, 0, ratio, 0, 0);
      // An opaque background, so a saved picture looks as it does here.
      ctx.fillStyle = '#fff';
      ctx.fillRect(0, 0, width, height);
      ctx.font = '12px "DejaVu Sans", sans-serif';
      if (this.zoom) {
        canvas.dataset.zoomFrom = String(Math.round(this.zoom.from));
        canvas.dataset.zoomTo = String(Math.round(this.zoom.to));
      } else {
        delete canvas.dataset.zoomFrom;
        delete canvas.dataset.zoomTo;
      }

      const legendHeight = this.drawLegend(ctx, width);
      const b = this.bounds();
      const step = b ? niceStep(b.vMax - b.vMin, 5) : 1;
      const lo = b ? Math.floor(b.vMin / step) * step : 0;
      const hi = b ? Math.ceil(b.vMax / step) * step : 0;
      const ticks = [];
      for (let v = lo; b && v <= hi + step / 2; v += step) ticks.push(v);
      // Room on the left for the longest tick label.
      const labelWidth = Math.max(0, ...ticks.map((v) => ctx.measureText(formatTick(v, step, this.decimalMark)).width));
      const box = { left: Math.max(64, Math.ceil(labelWidth) + 14), right: width - 16, top: legendHeight + 8, bottom: height - 26 };
      this.layout = b ? { box, tMin: b.tMin, tMax: b.tMax } : null;
      ctx.strokeStyle = '#c9d1dc';
      ctx.strokeRect(box.left, box.top, box.right - box.left, box.bottom - box.top);
      if (!b) {
        ctx.fillStyle = '#5b6578';
        ctx.textAlign = 'center';
        ctx.fillText(this.emptyText, (box.left + box.right) / 2, (box.top + box.bottom) / 2);
        return;
      }
      const x = (t) => box.left + ((t - b.tMin) / (b.tMax - b.tMin)) * (box.right - box.left);
      const y = (v) => box.bottom - ((v - lo) / (hi - lo)) * (box.bottom - box.top);

      ctx.textAlign = 'right';
      ctx.textBaseline = 'middle';
      ticks.forEach((v) => {
        ctx.strokeStyle = '#edf0f4';
        ctx.beginPath();
        ctx.moveTo(box.left, y(v));
        ctx.lineTo(box.right, y(v));
        ctx.stroke();
        ctx.fillStyle = '#5b6578';
        ctx.fillText(formatTick(v, step, this.decimalMark), box.left - 6, y(v));
      });
      ctx.textBaseline = 'top';
      ctx.textAlign = 'left';
      ctx.fillText(clock(b.tMin), box.left, box.bottom + 6);
      ctx.textAlign = 'right';
      ctx.fillText(clock(b.tMax), box.right, box.bottom + 6);

      ctx.save();
      ctx.beginPath();
      ctx.rect(box.left, box.top, box.right - box.left, box.bottom - box.top);
      ctx.clip();
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
      if (this.drag && this.drag.x1 !== undefined) {
        ctx.fillStyle = 'rgba(11, 107, 203, 0.15)';
        ctx.fillRect(Math.min(this.drag.x0, this.drag.x1), box.top, Math.abs(this.drag.x1 - this.drag.x0), box.bottom - box.top);
      }
      ctx.restore();
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

    /* ---------- zooming ---------- */

    // The time at a horizontal position in CSS pixels, inside the plot.
    timeAt(x) {
      const { box, tMin, tMax } = this.layout;
      const clamped = Math.min(box.right, Math.max(box.left, x));
      return tMin + ((clamped - box.left) / (box.right - box.left)) * (tMax - tMin);
    }

    startDrag(e) {
      if (!this.layout || e.button !== 0) return;
      this.drag = { x0: e.offsetX };
      this.canvas.setPointerCapture(e.pointerId);
    }

    moveDrag(e) {
      if (!this.drag) return;
      this.drag.x1 = e.offsetX;
      this.draw(true);
    }

    endDrag(e) {
      if (!this.drag) return;
      const { x0 } = this.drag;
      this.drag = null;
      if (Math.abs(e.offsetX - x0) < MIN_DRAG_PX || !this.layout) {
        this.draw(true);
        return;
      }
      const a = this.timeAt(x0);
      const b = this.timeAt(e.offsetX);
      this.zoomTo(Math.min(a, b), Math.max(a, b));
    }

    cancelDrag() {
      this.drag = null;
      this.draw(true);
    }

    zoomTo(from, to) {
      const middle = (from + to) / 2;
      const half = Math.max(to - from, MIN_SPAN_MS) / 2;
      this.setZoom({ from: middle - half, to: middle + half });
    }

    onKey(e) {
      const span = this.zoom || this.timeSpan();
      if (!span) return;
      const width = span.to - span.from;
      const zoomIn = () => this.zoomTo(span.from + width / 4, span.to - width / 4);
      const moves = {
        '+': zoomIn,
        '=': zoomIn,
        '-': () => this.zoomTo(span.from - width / 2, span.to + width / 2),
        ArrowLeft: () => this.zoomTo(span.from - width / 4, span.to - width / 4),
        ArrowRight: () => this.zoomTo(span.from + width / 4, span.to + width / 4),
        0: () => this.setZoom(null),
        Escape: () => this.setZoom(null),
      };
      if (!moves[e.key]) return;
      e.preventDefault();
      moves[e.key]();
    }

    // The picture as it stands, as a PNG file.
    toPng() {
      return new Promise((resolve) => this.canvas.toBlob(resolve, 'image/png'));
    }
  }

  window.Vexo.LineChart = LineChart;
})();
