// The shelf page: the downloaded and downloading items of one shelf type ("mag" or "book"), its
// category tabs and the per-item actions. The program fills it through the global functions below
// (it calls them by name, often from inside one of our own window.external calls), so they must
// stay global and must not assume any order beyond the one the program keeps.
//
// The page deliberately has no js_StartDownload, js_ReDownLoad or js_dgclose: the program calls
// them on every page it shows, and on the shelf they have no work to do.
"use strict";

var Shelf = {
  type: "mag",          // the shelf type whose categories are shown
  category: "",         // the selected tab: "new_read", "id_N", or "" for the whole shelf
  uid: "-1",
  items: {},            // pid -> {record, element}
  building: false,      // inside our own C_InitClassList
  relistPending: false,
  askedFor: {}          // pids whose progress arrived before their record
};

var STATE_TEXT = { 0: "已暂停", 1: "下载中", 2: "已下载", 3: "等待中" };
// A download that ended on its own without its file: stopped, as far as the program's states go.
var FAILED_TEXT = "下载失败";

// One record of the program's listing: "pic,pid,state,percent,name date,pid". A name may itself
// hold commas, so only the first four fields and the last are positional and everything between
// them is the name and date.
function parseShelfRecord(text) {
  var f = text.split(",");
  if (f.length < 6) return null;
  var middle = f.slice(4, f.length - 1).join(",");
  var blank = middle.lastIndexOf(" ");
  var state = parseInt(f[2], 10);
  var percent = parseInt(f[3], 10);
  return {
    pic: f[0],
    pid: f[f.length - 1],
    state: isNaN(state) ? 0 : state,
    percent: isNaN(percent) ? 0 : Math.max(0, Math.min(100, percent)),
    name: blank >= 0 ? middle.substring(0, blank) : middle,
    date: blank >= 0 ? middle.substring(blank + 1) : ""
  };
}

function parseShelfText(text) {
  var out = [];
  if (!text) return out;
  var parts = String(text).split(";");
  for (var i = 0; i < parts.length; i++) {
    var r = parseShelfRecord(parts[i]);
    if (r) out.push(r);
  }
  return out;
}

// Covers arrive as web addresses or as local file names (with either separator); anything else
// (a script address, say) gets no picture rather than a guess.
function coverUrl(pic) {
  if (/^(https?|file):\/\//i.test(pic)) return pic;
  if (/^[A-Za-z]:[\\\/]/.test(pic)) return "file:///" + pic.replace(/\\/g, "/");
  if (pic.charAt(0) === "/") return "file://" + pic;
  return "";
}

function ext() { return window.external; }

function el(tag, cls, text) {
  var e = document.createElement(tag);
  if (cls) e.className = cls;
  if (text !== undefined) e.textContent = text;
  return e;
}

function showEmpty(on) {
  document.getElementById("empty").classList.toggle("hidden", !on);
}

// --- what the program calls ---------------------------------------------------------------

function AddCategoryItem(id, name) {
  // The program rebuilds the tabs on its own when a download brought a new item (and perhaps a
  // new category); the listing is then out of date too.
  if (id === "new_read" && !Shelf.building) relistSoon();
  var bar = document.getElementById("tabs");
  var tab = el("a", "tab", name);
  tab.href = "#";
  tab.setAttribute("data-category", id);
  tab.addEventListener("click", function (e) {
    e.preventDefault();
    CategoryItemClick(id);
  });
  bar.appendChild(tab);
  // The whole shelf sits right after the recently-read list, before the store's categories.
  if (id === "new_read") {
    var all = el("a", "tab", "全部");
    all.href = "#";
    all.setAttribute("data-category", "");
    all.addEventListener("click", function (e) {
      e.preventDefault();
      CategoryItemClick("");
    });
    bar.appendChild(all);
  }
  markSelectedTab();
}

function ClearCategoryItem() {
  document.getElementById("tabs").textContent = "";
}

function ClearBookShelf() {
  document.getElementById("grid").textContent = "";
  Shelf.items = {};
  showEmpty(true);
}

function InitBooksData(text) {
  var recs = parseShelfText(text);
  for (var i = 0; i < recs.length; i++) addItem(recs[i]);
  showEmpty(document.getElementById("grid").children.length === 0);
}

function InitUID(uid) {
  Shelf.uid = String(uid);
  var loggedIn = Shelf.uid !== "" && Shelf.uid !== "-1";
  document.getElementById("user-state").textContent = loggedIn ? "已登录" : "未登录";
  document.getElementById("login").classList.toggle("hidden", loggedIn);
}

function SelMag() { switchType("mag"); }
function SelBook() { switchType("book"); }

function CategoryItemClick(id) {
  Shelf.category = id;
  markSelectedTab();
  ClearBookShelf();
  ext().C_LoadBookShelf(Shelf.type, id);
}

function ShowProgress(pid, type, percent) {
  if (type !== Shelf.type) return;
  var it = Shelf.items[pid];
  if (!it) {
    // Progress of an item we do not list yet: a download that started after the listing.
    if (!Shelf.askedFor[pid]) {
      Shelf.askedFor[pid] = true;
      relistSoon();
    }
    return;
  }
  var p = parseInt(percent, 10);
  it.record.percent = isNaN(p) ? 0 : Math.max(0, Math.min(100, p));
  it.record.state = it.record.percent >= 100 ? 2 : 1;
  it.record.failed = false;
  renderState(it);
}

function js_StopDownload(type, pid) {
  var it = Shelf.items[pid];
  if (!it || type !== Shelf.type) return;
  if (it.record.state !== 2) it.record.state = 0;
  it.record.failed = false;
  renderState(it);
}

// The download ended without its file although nobody stopped it; starting it again retries.
function js_DownloadFailed(type, pid) {
  var it = Shelf.items[pid];
  if (!it || type !== Shelf.type || it.record.state === 2) return;
  it.record.state = 0;
  it.record.failed = true;
  renderState(it);
}

// The shelf is shown again after a while hidden, when the program's reports reached no page.
function js_ShelfShown() {
  relistSoon();
}

// --- the page's own work --------------------------------------------------------------------

// After the program's call has returned: the listing is a call of our own, not one nested in
// whatever the program is doing.
function relistSoon() {
  if (Shelf.relistPending) return;
  Shelf.relistPending = true;
  setTimeout(function () {
    Shelf.relistPending = false;
    CategoryItemClick(Shelf.category);
  }, 0);
}

function initClassList(type) {
  Shelf.building = true;
  try {
    ext().C_InitClassList(type);
  } finally {
    Shelf.building = false;
  }
}

function switchType(type) {
  Shelf.type = type;
  document.getElementById("sel-mag").classList.toggle("active", type === "mag");
  document.getElementById("sel-book").classList.toggle("active", type === "book");
  ClearCategoryItem();
  ClearBookShelf();
  Shelf.category = "";
  initClassList(type);
  CategoryItemClick("");
}

function markSelectedTab() {
  var tabs = document.querySelectorAll("#tabs .tab");
  for (var i = 0; i < tabs.length; i++)
    tabs[i].classList.toggle("active", tabs[i].getAttribute("data-category") === Shelf.category);
}

function addItem(rec) {
  var card = el("div", "item");
  card.setAttribute("data-pid", rec.pid);
  var cover = el("div", "cover");
  var url = coverUrl(rec.pic);
  if (url) {
    var img = document.createElement("img");
    img.alt = "";
    img.addEventListener("error", function () { img.remove(); });
    img.src = url;
    cover.appendChild(img);
  }
  cover.appendChild(el("div", "cover-name", rec.name));
  var bar = el("div", "progress");
  var fill = el("div", "fill");
  bar.appendChild(fill);
  var badge = el("div", "badge");
  cover.appendChild(badge);
  cover.appendChild(bar);
  card.appendChild(cover);
  card.appendChild(el("div", "title", rec.name));
  card.appendChild(el("div", "date", rec.date));
  var actions = el("div", "actions");
  card.appendChild(actions);
  var it = { record: rec, element: card, fill: fill, bar: bar, badge: badge, actions: actions };
  cover.addEventListener("dblclick", function () {
    if (it.record.state === 2) ext().C_LocalRead(Shelf.type, it.record.pid);
  });
  Shelf.items[rec.pid] = it;
  document.getElementById("grid").appendChild(card);
  renderState(it);
}

function action(it, label, cls, fn) {
  var b = el("button", cls, label);
  b.addEventListener("click", fn);
  it.actions.appendChild(b);
}

function renderState(it) {
  var r = it.record;
  it.element.setAttribute("data-state", String(r.state));
  it.element.classList.toggle("failed", !!r.failed);
  it.fill.style.width = r.percent + "%";
  it.bar.classList.toggle("hidden", r.state === 2);
  var text = r.failed ? FAILED_TEXT : (STATE_TEXT[r.state] || "");
  it.badge.textContent = r.state === 2 ? "" : text + " " + r.percent + "%";
  it.badge.classList.toggle("hidden", r.state === 2);
  it.actions.textContent = "";
  var type = Shelf.type, pid = r.pid;
  if (r.state === 2) {
    action(it, "阅读", "primary act-open", function () { ext().C_LocalRead(type, pid); });
    action(it, "文件夹", "act-folder", function () { ext().C_OpenFolder(type, pid); });
  } else if (r.state === 1) {
    action(it, "暂停", "act-stop", function () {
      if (ext().C_StopDownLoad(type, pid)) js_StopDownload(type, pid);
    });
  } else {
    action(it, "开始", "primary act-start", function () {
      if (ext().C_StartDownLoad(type, pid)) {
        r.state = 1;
        r.failed = false;
        renderState(it);
      }
    });
  }
  action(it, "删除", "act-delete", function () { deleteItem(it); });
}

function deleteItem(it) {
  var pid = it.record.pid;
  // A finished item is asked about first: off the shelf its file goes, and a new download
  // would be needed.
  if (it.record.state === 2) {
    var question = Shelf.category === "new_read"
      ? "确定要从最近阅读中移除“" + it.record.name + "”吗？"
      : "确定要删除“" + it.record.name + "”吗？删除后需要重新下载。";
    if (!window.confirm(question)) return;
  }
  ext().C_DeleteFile(Shelf.type, Shelf.category, pid);
  it.element.remove();
  delete Shelf.items[pid];
  showEmpty(document.getElementById("grid").children.length === 0);
}

function startShelf() {
  document.getElementById("sel-mag").addEventListener("click", function () { SelMag(); });
  document.getElementById("sel-book").addEventListener("click", function () { SelBook(); });
  document.getElementById("login").addEventListener("click", function (e) {
    e.preventDefault();
    ext().C_ShowLogin("");
  });
  InitUID("-1");
  Shelf.type = "mag";
  initClassList("mag");
  // TRUE: nothing was asked for, show the magazines; FALSE: a page asked for a shelf before we
  // were loaded, and C_Go_Shelf selects it.
  if (ext().C_Load("")) {
    SelMag();
  } else {
    ext().C_Go_Shelf("");
  }
}

window.addEventListener("load", startShelf);
