// Line plots on uPlot, sized to their box, redrawn with new data in place.
import uPlot from "./vendor/uPlot.esm.js";

const COLOURS = ["#1f6fb2", "#d1495b", "#2a9d8f", "#e9a03b"];

function widthOf(element) {
  return element.clientWidth - 8 || document.querySelector("main").clientWidth - 40;
}

export class Plot {
  // options: title, x (axis label), y, series (labels), ir (wavenumber
  // descending), time (x in seconds since 1970), height, draw (hook after a
  // draw), drawn (called after every draw with the plot).
  constructor(element, options) {
    this.element = element;
    this.options = options;
    this.hooks = [];
    const series = [{}].concat(options.series.map((label, i) => ({
      label, stroke: COLOURS[i % COLOURS.length], width: 1, points: { show: false },
    })));
    const data = [[]].concat(options.series.map(() => []));
    this.uplot = new uPlot({
      title: options.title,
      width: widthOf(element),
      height: options.height || 240,
      series,
      scales: { x: { time: !!options.time, dir: options.ir ? -1 : 1 } },
      axes: [{ label: options.x }, { label: options.y, size: 70 }],
      legend: { live: false },
      cursor: { show: !!options.cursor, drag: { x: false, y: false } },
      hooks: {
        draw: [(u) => {
          if (options.draw) options.draw(u);
          if (options.drawn) options.drawn(this);
        }],
      },
    }, data, element);
    this.onResize = () => this.resize();
    window.addEventListener("resize", this.onResize);
  }

  destroy() {
    window.removeEventListener("resize", this.onResize);
    this.uplot.destroy();
  }

  resize() {
    const width = widthOf(this.element);
    if (width > 0 && width !== this.uplot.width) {
      this.uplot.setSize({ width, height: this.uplot.height });
    }
  }

  set(data) {
    this.uplot.setData(data);
  }
}

// 0, 1, ..., n - 1 as x values, kept for the next call of the same length.
const indexCache = new Map();
export function indices(n, start = 0) {
  const key = `${n}:${start}`;
  let xs = indexCache.get(key);
  if (!xs) {
    xs = new Float64Array(n);
    for (let i = 0; i < n; i++) xs[i] = start + i;
    if (indexCache.size > 8) indexCache.clear();
    indexCache.set(key, xs);
  }
  return xs;
}
