// The search page: live search as the user types, sortable columns, paging, the
// computers' last scans. Every text from the server is shown with textContent, never as
// markup.
"use strict";

(function () {
  const PAGE = 100;
  const DELAY_MS = 180; // after the last key: within 120 to 250 ms
  const $ = (id) => document.getElementById(id);
  const state = { sort: "name", offset: 0, timer: 0, seq: 0 };

  function token() {
    return sessionStorage.getItem("drivetrek-token") || "";
  }

  async function api(path) {
    const headers = {};
    if (token()) headers["Authorization"] = "Bearer " + token();
    const res = await fetch(path, { headers: headers, cache: "no-store" });
    if (res.status === 401) {
      $("tokenform").hidden = false;
      throw new Error("an access token is needed");
    }
    let body = null;
    try {
      body = await res.json();
    } catch (e) {
      throw new Error("the server answered " + res.status);
    }
    if (!res.ok) throw new Error((body && body.error) || "the server answered " + res.status);
    return body;
  }

  function setStatus(text, error) {
    const s = $("status");
    s.textContent = text;
    s.className = error ? "error" : "";
  }

  // The desktop's rule: a word of three or more characters, or an extension or a size.
  function worthSearching() {
    const words = $("q").value.split(" ");
    return words.some((w) => w.length >= 3) || $("ext").value.trim() !== "" ||
      Number($("from_kb").value) > 0 || Number($("to_kb").value) > 0;
  }

  function params() {
    const p = new URLSearchParams();
    p.set("q", $("q").value);
    if ($("ext").value.trim() !== "") p.set("ext", $("ext").value);
    if ($("from_kb").value.trim() !== "") p.set("from_kb", $("from_kb").value.trim());
    if ($("to_kb").value.trim() !== "") p.set("to_kb", $("to_kb").value.trim());
    if ($("computer").value !== "") p.set("computer", $("computer").value);
    p.set("dir", $("dir").checked ? "1" : "0");
    p.set("sort", state.sort);
    p.set("limit", String(PAGE));
    p.set("offset", String(state.offset));
    return p;
  }

  function cell(tr, text, cls) {
    const td = document.createElement("td");
    td.textContent = text;
    if (cls) td.className = cls;
    tr.appendChild(td);
  }

  function showRows(answer) {
    const body = $("rows");
    const rows = document.createDocumentFragment();
    for (const r of answer.rows) {
      const tr = document.createElement("tr");
      cell(tr, r.name);
      cell(tr, r.extension);
      cell(tr, r.dir, "dir");
      cell(tr, r.date);
      cell(tr, r.time);
      cell(tr, r.size.toLocaleString("en-US"), "num");
      cell(tr, r.computer);
      rows.appendChild(tr);
    }
    body.replaceChildren(rows);
    const total = answer.total.toLocaleString("en-US") + (answer.total_capped ? "+" : "");
    const first = answer.rows.length ? state.offset + 1 : 0;
    const last = state.offset + answer.rows.length;
    setStatus(total + " files (" + answer.ms + " ms)" +
      (answer.rows.length ? ", showing " + first + " to " + last : ""), false);
    $("page").textContent = answer.rows.length ? "page " + (Math.floor(state.offset / PAGE) + 1) : "";
    $("prev").disabled = state.offset === 0;
    $("next").disabled = last >= answer.total;
    for (const th of document.querySelectorAll("#results th")) {
      const key = th.dataset.sort;
      th.classList.toggle("sorted-asc", state.sort === key && th.textContent !== "Time");
      th.classList.toggle("sorted-desc", state.sort === "-" + key && th.textContent !== "Time");
    }
  }

  async function search() {
    if (!worthSearching()) {
      setStatus("Type a word of three or more characters, an extension or a size.", false);
      return;
    }
    const seq = ++state.seq;
    setStatus("searching\u2026", false);
    try {
      const answer = await api("/api/search?" + params().toString());
      if (seq === state.seq) showRows(answer);
    } catch (e) {
      if (seq === state.seq) setStatus(e.message, true);
    }
  }

  function later() {
    clearTimeout(state.timer);
    state.offset = 0;
    state.timer = setTimeout(search, DELAY_MS);
  }

  async function loadComputers() {
    try {
      const answer = await api("/api/computers");
      const select = $("computer");
      const chosen = select.value;
      while (select.options.length > 1) select.remove(1);
      const rows = document.createDocumentFragment();
      for (const c of answer.computers) {
        const o = document.createElement("option");
        o.value = c.name;
        o.textContent = c.name;
        select.appendChild(o);
        const tr = document.createElement("tr");
        cell(tr, c.name);
        cell(tr, c.last_scan || "never");
        cell(tr, c.days_since === null ? "" : String(c.days_since), "num");
        cell(tr, c.scan_time);
        rows.appendChild(tr);
      }
      select.value = chosen;
      $("computer-rows").replaceChildren(rows);
    } catch (e) {
      setStatus(e.message, true);
    }
  }

  document.addEventListener("DOMContentLoaded", function () {
    for (const id of ["q", "ext", "from_kb", "to_kb"]) $(id).addEventListener("input", later);
    $("computer").addEventListener("change", later);
    $("dir").addEventListener("change", later);
    $("search").addEventListener("submit", function (e) {
      e.preventDefault();
      clearTimeout(state.timer);
      state.offset = 0;
      search();
    });
    for (const th of document.querySelectorAll("#results th")) {
      th.addEventListener("click", function () {
        const key = th.dataset.sort;
        state.sort = state.sort === key ? "-" + key : key;
        state.offset = 0;
        search();
      });
    }
    $("prev").addEventListener("click", function () {
      state.offset = Math.max(0, state.offset - PAGE);
      search();
    });
    $("next").addEventListener("click", function () {
      state.offset += PAGE;
      search();
    });
    $("tokenform").addEventListener("submit", function (e) {
      e.preventDefault();
      sessionStorage.setItem("drivetrek-token", $("token").value);
      $("token").value = "";
      $("tokenform").hidden = true;
      loadComputers();
      search();
    });
    loadComputers();
  });
})();
