// The console's only script: the Today board refreshes itself and its buttons change minutes
// without leaving the page. Everything shown is set as text, never as markup.
"use strict";

(function () {
  const main = document.getElementById("main");
  if (!main) return;
  const csrf = main.dataset.csrf || "";

  function status(text, bad) {
    const line = document.getElementById("status");
    if (!line) return;
    line.textContent = text;
    line.className = bad ? "status bad" : "status";
  }

  async function post(path, body) {
    const response = await fetch(path, {
      method: "POST",
      credentials: "same-origin",
      headers: { "Content-Type": "application/json", "X-CSRF-Token": csrf },
      body: JSON.stringify(body),
    });
    let answer = {};
    try {
      answer = await response.json();
    } catch (e) {
      answer = { error: response.status + " " + response.statusText };
    }
    if (!response.ok) throw new Error(answer.error || String(response.status));
    return answer;
  }

  // Forms marked data-confirm ask first (removing a user, a class, a site).
  document.addEventListener("submit", function (event) {
    const form = event.target;
    if (form.dataset && form.dataset.confirm && !window.confirm(form.dataset.confirm)) {
      event.preventDefault();
    }
  });

  if (main.dataset.page !== "today") return;

  const labels = JSON.parse(main.dataset.labels || "{}");
  const admin = main.dataset.admin === "1";
  const group = main.dataset.group || "";
  const refresh = Math.max(5, parseInt(main.dataset.refresh || "15", 10)) * 1000;
  const pageSize = parseInt(main.dataset.pageSize || "100", 10);
  const body = document.getElementById("board-rows");
  const nameFilter = document.getElementById("filter-name");
  const count = document.getElementById("board-count");
  let page = parseInt(main.dataset.pageNumber || "1", 10);
  let rows = null;

  // Cells carry their column's name, which a phone shows before the value.
  function cell(column, text, className) {
    const td = document.createElement("td");
    td.textContent = text;
    if (className) td.className = className;
    if (labels.columns) td.dataset.label = labels.columns[column];
    return td;
  }

  function minutes(value) {
    return value === -1 ? labels.unlimited : String(value);
  }

  function button(user, kind, add, text) {
    const form = document.createElement("form");
    form.method = "post";
    form.action = "/api/users/" + encodeURIComponent(user) + "/" + kind;
    form.className = kind;
    form.dataset.user = user;
    if (kind === "minutes") form.dataset.add = String(add);
    const knob = document.createElement("button");
    knob.type = "submit";
    knob.textContent = text;
    knob.className = kind === "reset" ? "reset" : add > 0 ? "add" : "take";
    form.appendChild(knob);
    return form;
  }

  function row(r) {
    const tr = document.createElement("tr");
    tr.dataset.user = r.user;
    tr.className = "state-" + r.state;
    const name = cell(0, "", "");
    const link = document.createElement("a");
    link.href = "/users/" + encodeURIComponent(r.user);
    link.textContent = r.user;
    name.appendChild(link);
    tr.appendChild(name);
    tr.appendChild(cell(1, r.group || "", "group"));
    tr.appendChild(cell(2, minutes(r.allowance), "number"));
    tr.appendChild(cell(3, String(r.used), "number"));
    tr.appendChild(cell(4, String(r.extra), "number"));
    tr.appendChild(cell(5, minutes(r.left), "number left"));
    tr.appendChild(cell(6, labels[r.state] || r.state, "state"));
    tr.appendChild(cell(7, r.last || labels.never, "last"));
    const actions = document.createElement("td");
    actions.className = "actions";
    if (r.allowance !== -1) {
      actions.appendChild(button(r.user, "minutes", 15, "+15"));
      actions.appendChild(button(r.user, "minutes", -15, "\u221215"));
    }
    if (admin) actions.appendChild(button(r.user, "reset", 0, labels.reset));
    tr.appendChild(actions);
    return tr;
  }

  function shown() {
    const wanted = nameFilter ? nameFilter.value.trim().toUpperCase() : "";
    return rows.filter(function (r) {
      return !wanted || r.user.toUpperCase().indexOf(wanted) >= 0;
    });
  }

  function draw() {
    if (!rows || !body) return;
    const matching = shown();
    const pages = Math.max(1, Math.ceil(matching.length / pageSize));
    if (page > pages) page = pages;
    const first = (page - 1) * pageSize;
    const slice = matching.slice(first, first + pageSize);
    const fresh = document.createDocumentFragment();
    slice.forEach(function (r) {
      fresh.appendChild(row(r));
    });
    body.replaceChildren(fresh);
    if (count) {
      count.textContent = labels.showing
        .replace("{first}", String(matching.length ? first + 1 : 0))
        .replace("{last}", String(first + slice.length))
        .replace("{total}", String(matching.length));
    }
    const previous = document.getElementById("page-previous");
    const next = document.getElementById("page-next");
    if (previous) previous.hidden = page <= 1;
    if (next) next.hidden = page >= pages;
  }

  async function load() {
    try {
      const query = group ? "?group=" + encodeURIComponent(group) : "";
      const response = await fetch("/api/today" + query, { credentials: "same-origin" });
      if (response.status === 401) {
        window.location.assign("/login");
        return;
      }
      if (!response.ok) throw new Error(String(response.status));
      rows = await response.json();
      draw();
      main.dataset.loaded = String(Date.now());
    } catch (e) {
      status(labels.offline, true);
    }
  }

  document.addEventListener("submit", async function (event) {
    const form = event.target;
    if (!form.classList || !(form.classList.contains("minutes") || form.classList.contains("reset"))) {
      return;
    }
    event.preventDefault();
    const user = form.dataset.user;
    const reasonBox = document.getElementById("reason");
    const reason = reasonBox ? reasonBox.value.trim() : "";
    try {
      let answer;
      if (form.classList.contains("minutes")) {
        answer = await post(form.action, { add: parseInt(form.dataset.add, 10), reason: reason });
      } else {
        answer = await post(form.action, { reason: reason });
      }
      status(answer.done + (answer.warnings && answer.warnings.length ? " " + answer.warnings.join(" ") : ""), false);
      if (answer.user && rows) {
        rows = rows.map(function (r) {
          return r.user === answer.user.user ? answer.user : r;
        });
        draw();
      }
    } catch (e) {
      status(user + ": " + e.message, true);
    }
  });

  if (nameFilter) {
    nameFilter.addEventListener("input", function () {
      page = 1;
      draw();
    });
  }
  const previous = document.getElementById("page-previous");
  const next = document.getElementById("page-next");
  if (previous) {
    previous.addEventListener("click", function (event) {
      event.preventDefault();
      page = Math.max(1, page - 1);
      draw();
    });
  }
  if (next) {
    next.addEventListener("click", function (event) {
      event.preventDefault();
      page += 1;
      draw();
    });
  }
  load();
  window.setInterval(load, refresh);
})();
