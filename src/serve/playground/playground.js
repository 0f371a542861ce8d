// The chart playground: the chart and its reading follow the data string as it is typed, with
// one request to the service at a time and the last input always the one shown.
'use strict';

(() => {
  const EXAMPLES = [
    { kind: 'bar', name: 'Two regions, three quarters',
      data: '(Q1;Q2;Q3)(North;10;20;30)(South;15;25;35)' },
    { kind: 'bar', name: 'Four regions',
      data: '(Q1;Q2;Q3)(North;10;20;30)(South;15;25;35)(East;5;10;5)(West;30;20;25)' },
    { kind: 'bar', name: 'A blank between groups becomes part of a name',
      data: '(Q1;Q2)(a;1;2) (b;3;4)' },
    { kind: 'bar', name: 'Numbers that cannot be read',
      data: '(A;B)(x;12abc;abc)(y;1.5e2;1.5d1)' },
    { kind: 'xy', name: 'Four months', data: '(Jan;10)(Feb;20)(Mar;15)(Apr;12)' },
    { kind: 'xy', name: 'Half a year',
      data: '(Jan;10)(Feb;20)(Mar;15)(Apr;12)(May;18)(Jun;25)' },
    { kind: 'xy', name: 'Labels with brackets', data: '(f(x);2)(g(x);5)(h(x);3)' },
    { kind: 'xy', name: 'Below zero', data: '(a;-5)(b;3)(c;-1.5)(d;4)' },
  ];
  const HELP = {
    bar: 'Legends first, then one group a bar: (Q1;Q2)(North;10;20). The first character ' +
         'of the string and of each group is skipped, whatever it is.',
    xy: 'Pairs of label and number: (Jan;10)(Feb;20). The first character is skipped, and ' +
        'one character after each ")".',
  };
  const KIND_NAMES = { bar: 'Bar chart', xy: 'XY chart' };
  const DEFAULT_WIDTH = '640';
  const DEFAULT_HEIGHT = '300';
  const DEBOUNCE_MS = 40;

  const $ = (id) => document.getElementById(id);
  const form = $('chart-form');
  const data = $('data');
  const width = $('width');
  const height = $('height');
  const format = $('format');
  const example = $('example');
  const img = $('chart');
  const reason = $('reason');
  const status = $('status');
  const parsed = $('parsed');

  let timer = 0;
  let busy = false;   // a request is in flight
  let again = false;  // the input changed while it was
  let typedAt = 0;
  let objectUrl = null;

  // Query text as the service reads it: percent-escapes, with the characters that are plain
  // in a query left as they are, and the quote escaped so that the URL fits in a shell's
  // single quotes.
  function encode(text) {
    return encodeURIComponent(text)
      .replace(/%3B/g, ';').replace(/%2C/g, ',').replace(/%3A/g, ':').replace(/%40/g, '@')
      .replace(/%2F/g, '/').replace(/'/g, '%27');
  }

  function kind() {
    return form.elements.kind.value === 'xy' ? 'xy' : 'bar';
  }

  function current() {
    return { kind: kind(), data: data.value, width: width.value.trim(),
             height: height.value.trim(), format: format.value };
  }

  function query(q) {
    let text = 'data=' + encode(q.data);
    if (q.width !== '' && q.width !== DEFAULT_WIDTH) text += '&width=' + encode(q.width);
    if (q.height !== '' && q.height !== DEFAULT_HEIGHT) text += '&height=' + encode(q.height);
    return text;
  }

  function chartPath(q) {
    return '/' + q.kind + '.' + q.format + '?' + query(q);
  }

  function parsePath(q) {
    return '/parse/' + q.kind + '?data=' + encode(q.data);
  }

  function altText(q) {
    const shown = q.data.length > 200 ? q.data.slice(0, 200) + '\u2026' : q.data;
    return KIND_NAMES[q.kind] + ' of ' + (shown === '' ? 'no data' : shown);
  }

  function escapeAttribute(text) {
    return text.replace(/&/g, '&amp;').replace(/"/g, '&quot;').replace(/</g, '&lt;')
      .replace(/>/g, '&gt;');
  }

  function updateUse(q) {
    const url = location.origin + chartPath(q);
    $('snippet').value =
      '<img src="' + escapeAttribute(url) + '" alt="' + escapeAttribute(altText(q)) + '">';
    $('curl').value = "curl -o chart." + q.format + " '" + url + "'";
  }

  function showReason(text) {
    img.hidden = true;
    img.removeAttribute('src');
    img.alt = '';
    delete img.dataset.src;
    img.picture = null;
    if (objectUrl) URL.revokeObjectURL(objectUrl);
    objectUrl = null;
    reason.textContent = text;
    reason.hidden = false;
  }

  async function showChart(q) {
    const path = chartPath(q);
    let response;
    try {
      response = await fetch(path, { cache: 'default' });
    } catch (error) {
      showReason('The service did not answer: ' + error.message);
      return;
    }
    if (!response.ok) {
      const text = (await response.text()).trim();
      showReason(text || 'The service answered ' + response.status + '.');
      status.textContent = 'Nothing drawn (' + response.status + ').';
      return;
    }
    const picture = await response.blob();
    const url = URL.createObjectURL(picture);
    await new Promise((done) => {
      img.onload = img.onerror = done;
      img.src = url;
    });
    if (objectUrl) URL.revokeObjectURL(objectUrl);
    objectUrl = url;
    img.picture = picture;  // the bytes shown, for whoever reads the page (its tests)
    img.alt = altText(q);
    img.dataset.src = path;
    img.hidden = false;
    reason.hidden = true;
    const after = Math.round(performance.now() - typedAt);
    document.body.dataset.shownAfterMs = String(after);
    status.textContent = KIND_NAMES[q.kind] + ', ' + picture.size + ' bytes of ' +
        format.options[format.selectedIndex].text + '.';
  }

  function cell(row, text, className, header) {
    const c = document.createElement(header ? 'th' : 'td');
    if (header) c.scope = header;
    c.textContent = text;
    if (className) c.className = className;
    row.appendChild(c);
    return c;
  }

  function table(caption, headers) {
    const wrap = document.createElement('div');
    wrap.className = 'table-wrap';
    const t = document.createElement('table');
    t.createCaption().textContent = caption;
    const row = t.createTHead().insertRow();
    headers.forEach(([text, className]) => cell(row, text, className, 'col'));
    wrap.appendChild(t);
    return { wrap, body: t.createTBody() };
  }

  function summary(text) {
    const p = document.createElement('p');
    p.className = 'summary';
    p.textContent = text;
    return p;
  }

  function barReading(json) {
    const columns = Math.max(json.legends.length, ...json.bars.map((b) => b.values.length), 0);
    const headers = [['Bar', '']];
    for (let k = 0; k < columns; ++k)
      headers.push([k < json.legends.length ? json.legends[k] : '(no legend)', 'number text']);
    const { wrap, body } = table(json.bars.length + ' bars; values stacked from the baseline up',
                                 headers);
    for (const bar of json.bars) {
      const row = body.insertRow();
      cell(row, bar.name, 'text', 'row');
      for (let k = 0; k < columns; ++k)
        cell(row, k < bar.values.length ? String(bar.values[k]) : '', 'number');
    }
    return [wrap, summary('Legends: ' + json.legends.length + '. Highest stack, the top of ' +
                          'the value axis: ' + json.maxTotal + '.')];
  }

  function xyReading(json) {
    const { wrap, body } = table(json.points.length + ' points, left to right',
                                 [['Label', ''], ['Value', 'number']]);
    for (const point of json.points) {
      const row = body.insertRow();
      cell(row, point.label, 'text', 'row');
      cell(row, String(point.value), 'number');
    }
    if (json.points.length === 0) return [wrap, summary('No point: nothing can be drawn.')];
    return [wrap, summary('Lowest value ' + json.min + ', highest ' + json.max +
                          ': the value axis runs between them.')];
  }

  async function showReading(q) {
    let nodes;
    try {
      const response = await fetch(parsePath(q));
      if (!response.ok) {
        nodes = [summary((await response.text()).trim())];
      } else {
        const json = await response.json();
        nodes = q.kind === 'bar' ? barReading(json) : xyReading(json);
      }
    } catch (error) {
      nodes = [summary('The service did not answer: ' + error.message)];
    }
    parsed.replaceChildren(...nodes);
  }

  // One request at a time: input that arrives meanwhile is taken up when it is done, and only
  // the newest input is drawn.
  async function refresh() {
    if (busy) {
      again = true;
      return;
    }
    busy = true;
    try {
      do {
        again = false;
        const q = current();
        await showChart(q);
        if (!again) await showReading(q);
      } while (again);
    } finally {
      busy = false;
    }
  }

  function changed() {
    typedAt = performance.now();
    const q = current();
    updateUse(q);
    $('data-help').textContent = HELP[q.kind];
    clearTimeout(timer);
    timer = setTimeout(refresh, DEBOUNCE_MS);
  }

  function fillExamples() {
    for (const k of ['bar', 'xy']) {
      const group = document.createElement('optgroup');
      group.label = KIND_NAMES[k];
      EXAMPLES.forEach((e, i) => {
        if (e.kind !== k) return;
        const option = document.createElement('option');
        option.value = String(i);
        option.textContent = e.name;
        group.appendChild(option);
      });
      example.appendChild(group);
    }
  }

  example.addEventListener('change', () => {
    const chosen = EXAMPLES[Number(example.value)];
    if (!chosen) return;
    form.elements.kind.value = chosen.kind;
    data.value = chosen.data;
    changed();
  });

  form.addEventListener('change', (event) => {
    if (event.target.name === 'kind') {
      // An untouched example of the other kind gives way to one of this kind.
      if (data.value === '' || EXAMPLES.some((e) => e.kind !== kind() && e.data === data.value))
        data.value = EXAMPLES.find((e) => e.kind === kind()).data;
      example.value = '';
    }
    if (event.target !== example) changed();
  });
  form.addEventListener('input', (event) => {
    if (event.target === data) example.value = '';
    if (event.target !== example) changed();
  });
  form.addEventListener('submit', (event) => event.preventDefault());

  document.querySelectorAll('button[data-copies]').forEach((button) => {
    button.addEventListener('click', async () => {
      const field = $(button.dataset.copies);
      field.select();
      try {
        await navigator.clipboard.writeText(field.value);
      } catch (error) {
        document.execCommand('copy');
      }
      status.textContent = 'Copied: ' + field.labels[0].textContent + '.';
    });
  });

  fillExamples();
  data.value = EXAMPLES[0].data;
  changed();
  clearTimeout(timer);
  refresh();
})();
