"use strict";
// Draws the activity chart and the tables from the data embedded in the page.
// Every text from a hive reaches the page through textContent or an
// attribute value, never through markup, so a name holding markup shows as text.
(function () {
  const data = JSON.parse(document.getElementById("report-data").textContent);
  const SVG_NS = "http://www.w3.org/2000/svg";
  const OVERSCAN = 12;        // rows drawn beyond each edge of the visible ones
  const VIEW_HEIGHT = 420;    // the height of a table's scrolling view, as in the style
  const hives = data.hives;
  const hiveLabel = (number) => (hives[number] ? hives[number].label : String(number));

  function element(tag, attributes, text) {
    const node = document.createElement(tag);
    for (const name in attributes || {}) node.setAttribute(name, attributes[name]);
    if (text !== undefined) node.textContent = text;
    return node;
  }

  function svgElement(tag, attributes) {
    const node = document.createElementNS(SVG_NS, tag);
    for (const name in attributes) node.setAttribute(name, attributes[name]);
    return node;
  }

  function plain(value) {
    return value === null || value === undefined ? "" : String(value);
  }

  // Empty cells first, numbers by value, everything else as text: the ISO
  // times of the tables sort as times this way.
  function compare(a, b) {
    if (a === b) return 0;
    const aEmpty = a === null || a === undefined || a === "";
    const bEmpty = b === null || b === undefined || b === "";
    if (aEmpty || bEmpty) return aEmpty ? (bEmpty ? 0 : -1) : 1;
    if (typeof a === "number" && typeof b === "number") return a - b;
    a = String(a);
    b = String(b);
    return a < b ? -1 : a > b ? 1 : 0;
  }

  // A sortable, filterable table that keeps only the rows in view (and a
  // margin) in the document, so that 100,000 rows scroll as smoothly as 100.
  class Table {
    constructor(holder, columns, rows, formats) {
      this.holder = holder;
      this.columns = columns;
      this.rows = rows;
      this.formats = formats || {};
      this.extraFilter = null;
      this.query = "";
      this.haystacks = null;
      this.order = rows.map((_, i) => i);
      this.shown = this.order;
      this.rowHeight = 23;
      this.measured = false;
      this.pending = false;

      const bar = element("div", { class: "bar" });
      this.input = element("input", { type: "search", placeholder: "filter rows (any column)", "aria-label": "filter" });
      this.count = element("span", { class: "count" });
      bar.append(this.input, this.count);
      this.view = element("div", { class: "view" });
      const table = element("table");
      const widths = element("colgroup");
      const head = element("tr");
      columns.forEach((name, column) => {
        widths.append(element("col", { style: `width:${this.width(column)}` }));
        const cell = element("th", { scope: "col", title: `sort by ${name}` }, name);
        cell.addEventListener("click", () => this.sortBy(column));
        head.append(cell);
      });
      this.heads = Array.from(head.children);
      const thead = element("thead");
      thead.append(head);
      this.body = element("tbody");
      table.append(widths, thead, this.body);
      this.view.append(table);
      holder.replaceChildren(bar, this.view);

      let timer = 0;
      this.input.addEventListener("input", () => {
        clearTimeout(timer);
        timer = setTimeout(() => { this.query = this.input.value.toLowerCase(); this.refilter(); }, 120);
      });
      this.view.addEventListener("scroll", () => this.schedule());
      this.refilter();
    }

    width(column) {
      // Wide columns for long texts; the widest one takes what is left.
      const name = this.columns[column];
      if (/description|path|values|command|name/.test(name)) return "auto";
      if (/time|written|date|logon|last|first|install|arrival|removal|modified|set/.test(name)) return "15em";
      return "9em";
    }

    text(row, column) {
      const format = this.formats[column];
      return format ? format(row[column]) : plain(row[column]);
    }

    haystack(index) {
      if (this.haystacks === null) this.haystacks = new Array(this.rows.length);
      let text = this.haystacks[index];
      if (text === undefined) {
        const row = this.rows[index];
        text = this.columns.map((_, column) => this.text(row, column)).join("\u0001").toLowerCase();
        this.haystacks[index] = text;
      }
      return text;
    }

    sortBy(column) {
      const descending = this.sortColumn === column && this.direction === 1;
      this.sortColumn = column;
      this.direction = descending ? -1 : 1;
      const keys = this.formats[column]
        ? this.rows.map((row) => this.text(row, column))
        : this.rows.map((row) => row[column]);
      const direction = this.direction;
      this.order = this.rows.map((_, i) => i);
      this.order.sort((i, j) => direction * compare(keys[i], keys[j]) || i - j);
      this.heads.forEach((cell, at) => {
        if (at === column) cell.setAttribute("aria-sort", descending ? "descending" : "ascending");
        else cell.removeAttribute("aria-sort");
      });
      this.refilter();
    }

    refilter() {
      const query = this.query;
      const extra = this.extraFilter;
      if (!query && !extra) {
        this.shown = this.order;
      } else {
        this.shown = this.order.filter((i) => (!extra || extra(this.rows[i])) && (!query || this.haystack(i).includes(query)));
      }
      const total = this.rows.length;
      this.count.textContent = `${this.shown.length.toLocaleString("en")} of ${total.toLocaleString("en")} rows`;
      this.holder.dataset.shown = String(this.shown.length);
      this.holder.dataset.total = String(total);
      this.holder.classList.toggle("short", this.shown.length * this.rowHeight < VIEW_HEIGHT);
      this.view.scrollTop = 0;
      this.draw();
    }

    schedule() {
      if (this.pending) return;
      this.pending = true;
      requestAnimationFrame(() => { this.pending = false; this.draw(); });
    }

    gap(height) {
      const row = element("tr", { class: "gap" });
      const cell = element("td", { colspan: String(this.columns.length), style: `height:${height}px` });
      row.append(cell);
      return row;
    }

    draw() {
      const height = this.rowHeight;
      const count = this.shown.length;
      const first = Math.max(0, Math.floor(this.view.scrollTop / height) - OVERSCAN);
      const last = Math.min(count, first + Math.ceil((this.view.clientHeight || VIEW_HEIGHT) / height) + 2 * OVERSCAN);
      const drawn = [];
      if (first > 0) drawn.push(this.gap(first * height));
      for (let at = first; at < last; at++) {
        const row = this.rows[this.shown[at]];
        const line = element("tr");
        for (let column = 0; column < this.columns.length; column++) {
          const text = this.text(row, column);
          const cell = element("td", text.length > 40 ? { title: text } : {}, text);
          line.append(cell);
        }
        drawn.push(line);
      }
      if (last < count) drawn.push(this.gap((count - last) * height));
      this.body.replaceChildren(...drawn);
      if (!this.measured && last > first) {
        // The row height the style gives, measured once the first rows are in.
        const row = this.body.querySelector("tr:not(.gap)");
        const measured = row ? row.getBoundingClientRect().height : 0;
        if (measured > 0) {
          this.measured = true;
          if (Math.abs(measured - height) > 0.5) { this.rowHeight = measured; this.draw(); }
        }
      }
    }
  }

  const hiveFormat = { 0: hiveLabel };
  const tables = {};

  // The timeline, narrowed by the hives ticked and the range chosen on the chart.
  const timelineHolder = document.getElementById("timeline-table");
  const timeline = new Table(timelineHolder, data.timeline.columns, data.timeline.rows, { 1: hiveLabel });
  tables.timeline = timeline;
  const visible = new Set(hives.map((_, i) => i));
  let range = null;   // [from, to) as ISO texts

  function narrowTimeline() {
    const everyHive = visible.size === hives.length;
    if (everyHive && range === null) {
      timeline.extraFilter = null;
    } else {
      const from = range ? range[0] : null;
      const to = range ? range[1] : null;
      timeline.extraFilter = (row) => visible.has(row[1]) && (from === null || (row[0] >= from && row[0] < to));
    }
    timeline.refilter();
  }

  drawChart();

  function drawChart() {
    const chart = data.chart;
    const holder = document.getElementById("chart");
    const note = document.getElementById("chart-note");
    const controls = document.getElementById("chart-controls");
    if (!chart) {
      note.textContent = "No key in these hives has a last-written time.";
      return;
    }
    const bins = chart.events.length;
    const barWidth = Math.max(3, Math.min(28, Math.floor(1100 / bins)));
    const left = 52, right = 16, top = 26, plotHeight = 220, bottom = 46;
    const width = left + bins * barWidth + right;
    const height = top + plotHeight + bottom;
    const labelOf = (edge) => {
      const text = edge.replace("T", " ");
      return chart.unit === "hour" ? text.slice(0, 13) + ":00"
        : chart.unit === "day" ? text.slice(0, 10) : chart.unit === "month" ? text.slice(0, 7) : text.slice(0, 4);
    };
    let selected = null;  // [first bin, last bin]

    if (hives.length > 1) {
      hives.forEach((hive, number) => {
        const label = element("label");
        const box = element("input", { type: "checkbox", "data-hive": String(number) });
        box.checked = true;
        box.addEventListener("change", () => {
          if (box.checked) visible.add(number); else visible.delete(number);
          render();
          narrowTimeline();
        });
        label.append(box, element("span", { class: `swatch s${number % 10}` }), document.createTextNode(hive.label));
        controls.append(label);
      });
    }

    const svg = svgElement("svg", { width: String(width), height: String(height), role: "img",
      "aria-label": `keys written per ${chart.unit}` });
    holder.append(svg);
    const noteText = () => {
      const keys = chart.counts.reduce((sum, series, number) =>
        sum + (visible.has(number) ? series.reduce((a, b) => a + b, 0) : 0), 0);
      const events = chart.events.reduce((a, b) => a + b, 0);
      let text = `Keys written per ${chart.unit} (UTC): ${keys.toLocaleString("en")} keys`;
      if (events) text += `; ${events.toLocaleString("en")} artifact events marked above the bars`;
      if (chart.earlier || chart.later) {
        text += `; ${chart.earlier.toLocaleString("en")} earlier and ${chart.later.toLocaleString("en")} later keys are outside the chart`;
      }
      return text + ". Drag across the chart to narrow the timeline to a range.";
    };

    function render() {
      const totals = new Array(bins).fill(0);
      chart.counts.forEach((series, number) => {
        if (visible.has(number)) series.forEach((count, bin) => { totals[bin] += count; });
      });
      const most = Math.max(1, ...totals);
      const scale = plotHeight / most;
      const parts = [];
      parts.push(svgElement("line", { class: "axis", x1: left, y1: top + plotHeight, x2: width - right, y2: top + plotHeight }));
      parts.push(svgElement("line", { class: "axis", x1: left, y1: top, x2: left, y2: top + plotHeight }));
      const yLabel = (value, y) => {
        const label = svgElement("text", { x: left - 6, y: y + 4, "text-anchor": "end" });
        label.textContent = value.toLocaleString("en");
        parts.push(label);
      };
      yLabel(most, top);
      yLabel(0, top + plotHeight);
      const barSpace = barWidth > 4 ? barWidth - 1 : barWidth;
      for (let bin = 0; bin < bins; bin++) {
        let y = top + plotHeight;
        chart.counts.forEach((series, number) => {
          const count = series[bin];
          if (!count || !visible.has(number)) return;
          const barHeight = Math.max(1, count * scale);
          y -= barHeight;
          const bar = svgElement("rect", { class: `bar s${number % 10}`, x: left + bin * barWidth, y: y.toFixed(1),
            width: barSpace, height: barHeight.toFixed(1), "data-bin": bin, "data-hive": number });
          const tip = svgElement("title", {});
          tip.textContent = `${labelOf(chart.edges[bin])}: ${count.toLocaleString("en")} keys in ${hiveLabel(number)}`;
          bar.append(tip);
          parts.push(bar);
        });
        const events = chart.events[bin];
        if (events) {
          const mark = svgElement("circle", { class: "event", cx: left + bin * barWidth + barSpace / 2, cy: top - 12,
            r: (2 + Math.min(4, Math.log10(events + 1) * 2)).toFixed(1), "data-bin": bin });
          const tip = svgElement("title", {});
          tip.textContent = `${labelOf(chart.edges[bin])}: ${events.toLocaleString("en")} artifact events`;
          mark.append(tip);
          parts.push(mark);
        }
      }
      const every = Math.max(1, Math.ceil(bins / Math.max(1, Math.floor((width - left - right) / 90))));
      for (let bin = 0; bin < bins; bin += every) {
        const x = left + bin * barWidth;
        parts.push(svgElement("line", { class: "axis", x1: x, y1: top + plotHeight, x2: x, y2: top + plotHeight + 4 }));
        const label = svgElement("text", { x: x, y: top + plotHeight + 18, "text-anchor": "start" });
        label.textContent = labelOf(chart.edges[bin]);
        parts.push(label);
      }
      const brush = svgElement("rect", { class: "brush", y: top, height: plotHeight, x: 0, width: 0, visibility: "hidden" });
      parts.push(brush);
      svg.replaceChildren(...parts);
      svg.brush = brush;
      showBrush();
      note.textContent = noteText();
    }

    function showBrush() {
      const brush = svg.brush;
      if (!selected) { brush.setAttribute("visibility", "hidden"); return; }
      brush.setAttribute("visibility", "visible");
      brush.setAttribute("x", String(left + selected[0] * barWidth));
      brush.setAttribute("width", String((selected[1] - selected[0] + 1) * barWidth));
    }

    const binAt = (clientX) => {
      const x = clientX - svg.getBoundingClientRect().left;
      return Math.max(0, Math.min(bins - 1, Math.floor((x - left) / barWidth)));
    };
    const status = element("span", { id: "selection" });
    const clear = element("button", { type: "button", id: "clear-selection" }, "show all times");
    clear.hidden = true;
    controls.append(status, clear);

    function choose(first, last) {
      selected = [Math.min(first, last), Math.max(first, last)];
      range = [chart.edges[selected[0]], chart.edges[selected[1] + 1]];
      status.textContent = `Timeline narrowed to ${labelOf(range[0])} \u2013 ${labelOf(chart.edges[selected[1]])}`;
      clear.hidden = false;
      holder.dataset.from = range[0];
      holder.dataset.to = range[1];
      showBrush();
      narrowTimeline();
    }

    clear.addEventListener("click", () => {
      selected = null;
      range = null;
      status.textContent = "";
      clear.hidden = true;
      delete holder.dataset.from;
      delete holder.dataset.to;
      showBrush();
      narrowTimeline();
    });

    let anchor = null;
    svg.addEventListener("mousedown", (event) => {
      event.preventDefault();
      anchor = binAt(event.clientX);
      selected = [anchor, anchor];
      showBrush();
    });
    svg.addEventListener("mousemove", (event) => {
      if (anchor === null) return;
      const bin = binAt(event.clientX);
      selected = [Math.min(anchor, bin), Math.max(anchor, bin)];
      showBrush();
    });
    window.addEventListener("mouseup", (event) => {
      if (anchor === null) return;
      const first = anchor;
      anchor = null;
      choose(first, binAt(event.clientX));
    });

    render();
  }

  data.artifacts.forEach((artifact) => {
    const holder = Array.from(document.querySelectorAll(".artifact")).find((node) => node.dataset.artifact === artifact.name);
    if (holder) tables[artifact.name] = new Table(holder.querySelector(".table"), artifact.columns, artifact.rows, hiveFormat);
  });
  document.querySelectorAll(".deleted-hive").forEach((node) => {
    const number = Number(node.dataset.hive);
    new Table(node.querySelector(".table"), data.deleted.columns, data.deleted.tables[number] || []);
  });
  document.body.dataset.ready = "true";
})();
