#!/usr/bin/env python3
"""The program's own pages and the store's catalogue pages in a real browser engine (headless
Chromium), with a stand-in window.external that records every call and answers as the program
would. Each case loads a page, lets a scenario act on it and reads back what happened from the
page's DOM. Screenshots go to KESTRIN_SHOTS (the build folder) when it is set.

  python3 tests/pages/test_pages.py
"""
import html
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
PAGES = os.path.join(ROOT, "res", "pages")
STORE = os.path.join(ROOT, "tools", "store", "kestrin_store.py")
CHROMIUM = shutil.which("chromium") or shutil.which("chromium-browser")

# Loaded first in every page under test: the stand-in window.external, and a record of script
# errors and of files that failed to load.
STUB = r"""
(function () {
  var log = { calls: [], errors: [] };
  window.__log = log;
  window.addEventListener("error", function (e) {
    // A cover that does not load is the page's to handle; its own scripts and style sheets
    // must all be there.
    if (e.target && (e.target.tagName === "SCRIPT" || e.target.tagName === "LINK"))
      log.errors.push("failed to load " + (e.target.src || e.target.href));
    else if (!e.target || e.target === window)
      log.errors.push(String(e.message));
  }, true);
  window.addEventListener("unhandledrejection", function (e) { log.errors.push("rejection " + e.reason); });
  var answers = {};
  window.__answer = function (name, fn) { answers[name] = fn; };
  var ext = new Proxy({}, {
    get: function (t, name) {
      if (typeof name !== "string") return undefined;
      return function () {
        var args = Array.prototype.slice.call(arguments).map(String);
        log.calls.push([name].concat(args));
        var a = answers[name];
        return typeof a === "function" ? a.apply(null, args) : (a === undefined ? true : a);
      };
    }
  });
  Object.defineProperty(window, "external", { value: ext, configurable: true });
  window.__calls = function (name) {
    return log.calls.filter(function (c) { return c[0] === name; }).map(function (c) { return c.slice(1); });
  };
  // The scenario runs after the page's own load handlers; it ends by calling __done(result).
  window.__done = function (result) {
    var pre = document.createElement("pre");
    pre.id = "__result";
    pre.style.display = "none";
    pre.textContent = JSON.stringify({ result: result, calls: log.calls, errors: log.errors });
    document.body.appendChild(pre);
  };
  window.__waitFor = function (test, then) {
    var left = 200;
    (function poll() {
      if (test() || --left <= 0) then(); else setTimeout(poll, 25);
    })();
  };
})();
"""


def chromium(args, profile):
    base = [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
            "--disable-component-update", "--disable-sync", "--no-first-run", "--hide-scrollbars",
            "--user-data-dir=" + profile, "--virtual-time-budget=15000", "--lang=zh-CN"]
    return subprocess.run(base + args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=120)


class PageCase(unittest.TestCase):
    """Runs pages: copies res/pages into a fresh folder, injects the stand-in and a scenario."""

    def setUp(self):
        if not CHROMIUM:
            self.skipTest("chromium is not installed (tools/install-deps.sh build)")
        self.dir = tempfile.mkdtemp(prefix="kestrin-pages-")
        self.profile = os.path.join(self.dir, "profile")
        self.site = os.path.join(self.dir, "site")
        shutil.copytree(PAGES, self.site)
        with open(os.path.join(self.site, "__stub.js"), "w", encoding="utf-8") as f:
            f.write(STUB)

    def tearDown(self):
        if hasattr(self, "dir"):
            shutil.rmtree(self.dir, ignore_errors=True)

    def prepare(self, source, setup="", scenario="__done(null);", base=None):
        """The page text with the stand-in, the answers of `setup` and the scenario put in."""
        head = '<meta charset="utf-8">'
        if base:
            head += '<base href="%s">' % base
        stub = os.path.join(self.site, "__stub.js")
        head += '<script src="file://%s"></script><script>%s</script>' % (stub, setup)
        head += ('<script>window.addEventListener("load", function () { setTimeout(function () { %s }, 0); });'
                 '</script>' % scenario)
        text, n = re.subn(r'<meta charset="utf-8">', lambda m: head, source, count=1)
        self.assertEqual(n, 1, "the page declares its charset")
        return text

    def run_page(self, source, setup="", scenario="__done(null);", base=None, query="", shot=None,
                 size=(900, 600)):
        path = os.path.join(self.site, "__case.html")
        with open(path, "w", encoding="utf-8") as f:
            f.write(self.prepare(source, setup, scenario, base))
        url = "file://" + path + query
        out = chromium(["--dump-dom", url], self.profile).stdout.decode("utf-8", "replace")
        m = re.search(r'<pre id="__result"[^>]*>(.*?)</pre>', out, re.S)
        self.assertIsNotNone(m, "the scenario finished; page said:\n" + out[-2000:])
        got = json.loads(html.unescape(m.group(1)))
        if shot and os.environ.get("KESTRIN_SHOTS"):
            target = os.path.join(os.environ["KESTRIN_SHOTS"], shot)
            chromium(["--screenshot=" + target, "--window-size=%d,%d" % size, url], self.profile)
        return got

    def page(self, name):
        with open(os.path.join(PAGES, name), encoding="utf-8") as f:
            return f.read()

    def assertNoErrors(self, got):
        self.assertEqual(got["errors"], [])

    def calls(self, got, name):
        return [c[1:] for c in got["calls"] if c[0] == name]


# The program's side of the shelf page: categories from C_InitClassList, the listing from
# C_LoadBookShelf, all through the page's own functions, as the shelf view calls them.
SHELF_PROGRAM = r"""
var shelfData = { mag: "", book: "" };
var categories = { mag: [["id_11", "时尚"]], book: [["id_21", "小说"]] };
var requested = "";
__answer("C_InitClassList", function (type) {
  AddCategoryItem("new_read", "最近阅读");
  (categories[type] || []).forEach(function (c) { AddCategoryItem(c[0], c[1]); });
  return true;
});
__answer("C_Load", function () { InitUID("1001"); return requested === ""; });
__answer("C_Go_Shelf", function () {
  if (requested === "book") SelBook(); else SelMag();
  CategoryItemClick("id_21");
  return true;
});
__answer("C_LoadBookShelf", function (type, category) {
  ClearBookShelf();
  if (shelfData[type]) InitBooksData(shelfData[type]);
  return true;
});
"""

# The state of the shelf as the user sees it: each item's pid, name, date, state and progress.
SHELF_READ = r"""
function shelfView() {
  return Array.prototype.map.call(document.querySelectorAll("#grid .item"), function (e) {
    var bar = e.querySelector(".progress");
    return { pid: e.getAttribute("data-pid"), title: e.querySelector(".title").textContent,
             date: e.querySelector(".date").textContent, state: e.getAttribute("data-state"),
             width: e.querySelector(".fill").style.width, bar: !bar.classList.contains("hidden"),
             buttons: Array.prototype.map.call(e.querySelectorAll("button"), function (b) { return b.className; }) };
  });
}
function tabs() {
  return Array.prototype.map.call(document.querySelectorAll("#tabs .tab"), function (t) {
    return [t.getAttribute("data-category"), t.textContent, t.classList.contains("active")];
  });
}
"""

TWO_RECORDS = "p1,11,2,100,Name 2012-11,11;p2,12,0,40,Other 2012-10,12"


class ShelfPageTest(PageCase):
    def test_load_lists_the_two_record_text(self):
        for page in ("Bookshelf2.html", "Bookshelf.html"):
            with self.subTest(page=page):
                got = self.run_page(self.page(page), SHELF_PROGRAM + SHELF_READ + "shelfData.mag = %s;"
                                    % json.dumps(TWO_RECORDS), "__done({items: shelfView(), tabs: tabs()});")
                self.assertNoErrors(got)
                items = got["result"]["items"]
                self.assertEqual([(i["pid"], i["title"], i["date"], i["state"], i["width"], i["bar"]) for i in items],
                                 [("11", "Name", "2012-11", "2", "100%", False),
                                  ("12", "Other", "2012-10", "0", "40%", True)])
                # A finished item reads and shows its folder; a stopped one can be started.
                self.assertIn("primary act-open", items[0]["buttons"])
                self.assertIn("act-folder", items[0]["buttons"])
                self.assertIn("primary act-start", items[1]["buttons"])
                self.assertEqual([t[0] for t in got["result"]["tabs"]], ["new_read", "", "id_11"])
                self.assertEqual(got["result"]["tabs"][0][1], "最近阅读")
                # The load sequence the shelf view expects: categories, then C_Load, then the list.
                names = [c[0] for c in got["calls"]]
                self.assertEqual(names[:3], ["C_InitClassList", "C_Load", "C_InitClassList"])
                self.assertEqual(self.calls(got, "C_LoadBookShelf")[-1], ["mag", ""])

    def test_record_text_is_parsed_by_its_first_four_fields_and_its_last(self):
        cases = [
            ("a name with commas", "c.jpg,7,1,25,Du, Jour, Mag 2013-01,7", [("7", "Du, Jour, Mag", "2013-01", "1", "25%")]),
            ("markup in the name", "c.jpg,8,2,100,<img src=x onerror=window.__bad=1> 2013-02,8",
             [("8", "<img src=x onerror=window.__bad=1>", "2013-02", "2", "100%")]),
            ("a short record is skipped", "x,9,1,5;c.jpg,10,3,0,Wait 2013-03,10", [("10", "Wait", "2013-03", "3", "0%")]),
            ("percent out of range", "c.jpg,11,1,250,Big 2013-04,11", [("11", "Big", "2013-04", "1", "100%")]),
        ]
        for label, text, want in cases:
            with self.subTest(label):
                got = self.run_page(self.page("Bookshelf2.html"), SHELF_PROGRAM + SHELF_READ,
                                    "ClearBookShelf(); InitBooksData(%s); __done({items: shelfView(), "
                                    "bad: !!window.__bad, imgs: document.querySelectorAll('.title img').length});"
                                    % json.dumps(text))
                self.assertNoErrors(got)
                self.assertEqual([(i["pid"], i["title"], i["date"], i["state"], i["width"])
                                  for i in got["result"]["items"]], want)
                self.assertFalse(got["result"]["bad"])
                self.assertEqual(got["result"]["imgs"], 0)

    def test_actions_call_the_program_with_type_category_and_pid(self):
        scenario = r"""
          var cards = document.querySelectorAll("#grid .item");
          cards[1].querySelector(".act-start").click();      // stopped -> start
          var afterStart = shelfView()[1];
          cards[1].querySelector(".act-stop").click();       // loading -> stop
          var afterStop = shelfView()[1];
          ShowProgress("12", "mag", "70");
          var progress = shelfView()[1];
          ShowProgress("12", "book", "90");                  // another shelf type: ignored
          ShowProgress("12", "mag", "100");
          var done = shelfView()[1];
          cards[0].querySelector(".act-open").click();
          cards[0].querySelector(".act-folder").click();
          CategoryItemClick("new_read");
          window.confirm = function () { return true; };
          document.querySelector('#grid .item[data-pid="11"] .act-delete').click();
          __done({afterStart: afterStart, afterStop: afterStop, progress: progress, done: done,
                  left: shelfView().map(function (i) { return i.pid; })});
        """
        got = self.run_page(self.page("Bookshelf2.html"),
                            SHELF_PROGRAM + SHELF_READ + "shelfData.mag = %s;" % json.dumps(TWO_RECORDS), scenario)
        self.assertNoErrors(got)
        r = got["result"]
        self.assertEqual(self.calls(got, "C_StartDownLoad"), [["mag", "12"]])
        self.assertEqual(self.calls(got, "C_StopDownLoad"), [["mag", "12"]])
        self.assertEqual((r["afterStart"]["state"], r["afterStop"]["state"]), ("1", "0"))
        self.assertEqual((r["progress"]["state"], r["progress"]["width"]), ("1", "70%"))
        self.assertEqual((r["done"]["state"], r["done"]["bar"]), ("2", False))
        self.assertEqual(self.calls(got, "C_LocalRead"), [["mag", "11"]])
        self.assertEqual(self.calls(got, "C_OpenFolder"), [["mag", "11"]])
        self.assertEqual(self.calls(got, "C_DeleteFile"), [["mag", "new_read", "11"]])
        self.assertEqual(r["left"], ["12"])

    def test_items_added_after_the_listing_show_up(self):
        cases = [
            # The shelf view's ChangeShelfType: the tabs are rebuilt from outside the page.
            ("tabs rebuilt", 'ClearCategoryItem(); AddCategoryItem("new_read", "最近阅读");'
                             'AddCategoryItem("id_11", "时尚"); AddCategoryItem("id_12", "财经");'),
            # Progress of a download the page does not list yet; one relisting is enough.
            ("progress first", 'ShowProgress("13", "mag", "5"); ShowProgress("13", "mag", "6");'),
        ]
        for label, program in cases:
            with self.subTest(label):
                scenario = r"""
                  var before = __calls("C_LoadBookShelf").length;
                  shelfData.mag = %s + ";p3,13,1,5,New 2012-12,13";
                  %s
                  __waitFor(function () { return document.querySelector('.item[data-pid="13"]'); }, function () {
                    __done({items: shelfView().map(function (i) { return [i.pid, i.state]; }),
                            relisted: __calls("C_LoadBookShelf").slice(before), tabs: tabs()});
                  });
                """ % (json.dumps(TWO_RECORDS), program)
                got = self.run_page(self.page("Bookshelf2.html"), SHELF_PROGRAM + SHELF_READ + "shelfData.mag = %s;"
                                    % json.dumps(TWO_RECORDS), scenario)
                self.assertNoErrors(got)
                self.assertEqual(got["result"]["items"], [["11", "2"], ["12", "0"], ["13", "1"]])
                self.assertEqual(got["result"]["relisted"], [["mag", ""]])
                self.assertIn(["", "全部", True], got["result"]["tabs"])

    def test_requested_shelf_goes_through_c_go_shelf(self):
        got = self.run_page(self.page("Bookshelf2.html"), SHELF_PROGRAM + SHELF_READ + 'requested = "book";',
                            "__done({tabs: tabs(), book: document.getElementById('sel-book').className});")
        self.assertNoErrors(got)
        self.assertEqual(self.calls(got, "C_Go_Shelf"), [[""]])
        self.assertEqual(self.calls(got, "C_LoadBookShelf")[-1], ["book", "id_21"])
        self.assertIn(["id_21", "小说", True], got["result"]["tabs"])
        self.assertEqual(got["result"]["book"], "active")

    def test_user_state_and_functions_the_page_must_not_define(self):
        got = self.run_page(self.page("Bookshelf2.html"), SHELF_PROGRAM,
                            "var a = document.getElementById('user-state').textContent; InitUID('-1');"
                            "document.getElementById('login').click();"
                            "__done({a: a, b: document.getElementById('user-state').textContent,"
                            " defined: ['js_StartDownload', 'js_ReDownLoad', 'js_dgclose'].filter("
                            "function (n) { return typeof window[n] !== 'undefined'; })});")
        self.assertNoErrors(got)
        self.assertEqual((got["result"]["a"], got["result"]["b"]), ("已登录", "未登录"))
        self.assertEqual(got["result"]["defined"], [])
        self.assertEqual(self.calls(got, "C_ShowLogin"), [[""]])

    def test_a_failed_download_says_so_and_start_retries(self):
        scenario = r"""
          var read = function () {
            var e = document.querySelector('#grid .item[data-pid="12"]');
            return [e.getAttribute("data-state"), e.classList.contains("failed"), e.querySelector(".badge").textContent,
                    Array.prototype.map.call(e.querySelectorAll("button"), function (b) { return b.className; })];
          };
          js_DownloadFailed("book", "12");                 // another shelf type: ignored
          var other = read();
          js_DownloadFailed("mag", "12");
          var failed = read();
          js_DownloadFailed("mag", "11");                  // a finished item stays finished
          var done = document.querySelector('#grid .item[data-pid="11"]').getAttribute("data-state");
          document.querySelector('#grid .item[data-pid="12"] .act-start').click();
          var retried = read();
          js_DownloadFailed("mag", "12");
          js_StopDownload("mag", "12");                   // a stop by hand is a pause again
          __done({other: other, failed: failed, done: done, retried: retried, paused: read()});
        """
        got = self.run_page(self.page("Bookshelf2.html"),
                            SHELF_PROGRAM + SHELF_READ + "shelfData.mag = %s;" % json.dumps(TWO_RECORDS), scenario)
        self.assertNoErrors(got)
        r = got["result"]
        self.assertEqual(r["other"][:3], ["0", False, "已暂停 40%"])
        self.assertEqual(r["failed"], ["0", True, "下载失败 40%", ["primary act-start", "act-delete"]])
        self.assertEqual(r["done"], "2")
        self.assertEqual(self.calls(got, "C_StartDownLoad"), [["mag", "12"]])
        self.assertEqual(r["retried"][:3], ["1", False, "下载中 40%"])
        self.assertEqual(r["paused"][:3], ["0", False, "已暂停 40%"])

    def test_deleting_a_finished_item_asks_first(self):
        scenario = r"""
          var asked = [];
          window.confirm = function (q) { asked.push(q); return answers.shift(); };
          var answers = [false, true, true];
          var del = function (pid) { document.querySelector('#grid .item[data-pid="' + pid + '"] .act-delete').click(); };
          del("11");                                      // refused: nothing happens
          var kept = shelfView().map(function (i) { return i.pid; });
          del("12");                                      // not finished: no question
          del("11");
          var left = shelfView().map(function (i) { return i.pid; });
          CategoryItemClick("new_read");
          del("11");                                      // from the recent reads: asked in its own words
          __done({asked: asked, kept: kept, left: left});
        """
        got = self.run_page(self.page("Bookshelf2.html"),
                            SHELF_PROGRAM + SHELF_READ + "shelfData.mag = %s;" % json.dumps(TWO_RECORDS), scenario)
        self.assertNoErrors(got)
        r = got["result"]
        self.assertEqual(r["kept"], ["11", "12"])
        self.assertEqual(r["left"], [])
        self.assertEqual(self.calls(got, "C_DeleteFile"), [["mag", "", "12"], ["mag", "", "11"], ["mag", "new_read", "11"]])
        self.assertEqual(len(r["asked"]), 3)
        self.assertIn("Name", r["asked"][0])
        self.assertIn("删除", r["asked"][0])
        self.assertIn("最近阅读", r["asked"][2])

    def test_shown_again_the_shelf_lists_anew(self):
        scenario = r"""
          var before = __calls("C_LoadBookShelf").length;
          shelfData.mag = "p2,12,2,100,Other 2012-10,12";
          js_ShelfShown();
          js_ShelfShown();
          __waitFor(function () { return __calls("C_LoadBookShelf").length > before; }, function () {
            __done({relisted: __calls("C_LoadBookShelf").slice(before), items: shelfView().map(function (i) {
              return [i.pid, i.state]; })});
          });
        """
        got = self.run_page(self.page("Bookshelf2.html"),
                            SHELF_PROGRAM + SHELF_READ + "shelfData.mag = %s;" % json.dumps(TWO_RECORDS), scenario)
        self.assertNoErrors(got)
        self.assertEqual(got["result"]["relisted"], [["mag", ""]])
        self.assertEqual(got["result"]["items"], [["12", "2"]])

    def test_empty_shelf_says_so(self):
        got = self.run_page(self.page("Bookshelf2.html"), SHELF_PROGRAM,
                            "__done(!document.getElementById('empty').classList.contains('hidden'));")
        self.assertNoErrors(got)
        self.assertTrue(got["result"])


class StoreRunning(PageCase):
    @classmethod
    def setUpClass(cls):
        cls.proc = subprocess.Popen([sys.executable, STORE, "--watch-stdin"], stdin=subprocess.PIPE,
                                    stdout=subprocess.PIPE)
        cls.port = int(cls.proc.stdout.readline())
        cls.base = "http://127.0.0.1:%d" % cls.port

    @classmethod
    def tearDownClass(cls):
        cls.proc.stdin.close()
        cls.proc.wait(timeout=10)
        cls.proc.stdout.close()


class LoginPageTest(StoreRunning):
    def login(self, name, password, autologin=True, answer="true", store=None):
        scenario = r"""
          document.getElementById("username").value = %s;
          document.getElementById("password").value = %s;
          document.getElementById("autologin").checked = %s;
          document.getElementById("submit").click();
          __waitFor(function () {
            return __calls("C_LoginOK").length || document.getElementById("message").textContent;
          }, function () {
            __done({message: document.getElementById("message").textContent,
                    mode: !document.getElementById("mode").classList.contains("hidden")});
          });
        """ % (json.dumps(name), json.dumps(password), "true" if autologin else "false")
        return self.run_page(self.page("login.html"), '__answer("C_GetLoginMode", false);'
                             '__answer("C_LoginOK", %s);' % answer, scenario,
                             query="?store=" + (store or self.base))

    def test_a_store_answer_reaches_c_login_ok(self):
        cases = [("reader", "pa ss&#1", True, ["1001", "reader", "pa ss&#1", "1", "100", "1"]),
                 ("读者", "读书", False, ["1004", "读者", "读书", "0", "20", "0"])]
        for name, password, auto, want in cases:
            with self.subTest(name=name):
                got = self.login(name, password, auto)
                self.assertNoErrors(got)
                self.assertEqual(self.calls(got, "C_LoginOK"), [want])
                self.assertEqual(self.calls(got, "C_GetLoginMode"), [[""]])
                self.assertFalse(got["result"]["mode"])
                self.assertEqual(self.calls(got, "C_SetUserMode"), [])

    def test_refusals_show_an_error_and_log_nobody_in(self):
        cases = [("reader", "wrong", "用户名或密码错误"), ("nobody", "x", "用户名或密码错误"),
                 ("frozen", "frozen1", "该账号已被冻结，请联系客服"), ("", "x", "请输入用户名"),
                 ("reader", "", "请输入密码")]
        for name, password, message in cases:
            with self.subTest(name=name, password=password):
                got = self.login(name, password)
                self.assertNoErrors(got)
                self.assertEqual(self.calls(got, "C_LoginOK"), [])
                self.assertEqual(got["result"]["message"], message)

    def test_program_refusal_and_unreachable_store(self):
        got = self.login("reader", "pa ss&#1", answer="false")
        self.assertEqual(got["result"]["message"], "登录信息不完整，请重新登录")
        got = self.login("reader", "pa ss&#1", store="http://127.0.0.1:9")
        self.assertEqual(self.calls(got, "C_LoginOK"), [])
        self.assertEqual(got["result"]["message"], "无法连接到书店，请检查网络后重试")

    def test_close_and_experience(self):
        got = self.run_page(self.page("login.html"), "",
                            "document.getElementById('close').click();"
                            "document.getElementById('experience').click(); __done(null);")
        self.assertNoErrors(got)
        self.assertEqual(self.calls(got, "C_LoginClose"), [[""]])
        self.assertEqual(self.calls(got, "C_ExperienceRead"), [[""]])


class SettingPageTest(PageCase):
    PROGRAM = r"""
      __answer("C_SetConfig", function () {
        js_setFileVal("/home/u/杂志/");
        SetCheck("1", "0");
        AddWIDI("客厅电视");
        AddWIDI("<b>Proj</b>");
        return true;
      });
      __answer("C_browseFile", function () { js_setFileVal("/media/usb/"); return true; });
    """

    def test_settings_are_shown_and_handed_back(self):
        scenario = r"""
          var shown = {folder: document.getElementById("down_save").value,
                       auto: document.getElementById("auto_start").checked,
                       taskbar: document.getElementById("taskbar").checked,
                       widi: Array.prototype.map.call(document.querySelectorAll("#widi option"),
                                                      function (o) { return o.textContent; })};
          document.getElementById("browse").click();
          document.getElementById("taskbar").checked = true;
          document.getElementById("auto_start").checked = false;
          document.getElementById("ok").click();
          document.getElementById("widi").value = "<b>Proj</b>";
          document.getElementById("connect").click();
          document.getElementById("disconnect").click();
          document.getElementById("cancel").click();
          __done(shown);
        """
        got = self.run_page(self.page("Setting.html"), self.PROGRAM, scenario)
        self.assertNoErrors(got)
        self.assertEqual(got["result"], {"folder": "/home/u/杂志/", "auto": True, "taskbar": False,
                                         "widi": ["客厅电视", "<b>Proj</b>"]})
        self.assertEqual(self.calls(got, "C_SetConfig"), [[]])
        self.assertEqual(self.calls(got, "C_Settings"), [["0", "1", "/media/usb/"]])
        self.assertEqual(self.calls(got, "C_ConnectWIDI"), [["<b>Proj</b>"]])
        self.assertEqual(self.calls(got, "C_DisconnectedWIDI"), [[]])
        self.assertEqual(self.calls(got, "C_Close"), [[]])

    def test_no_adapter_disables_connect(self):
        got = self.run_page(self.page("Setting.html"), '__answer("C_SetConfig", true);',
                            "document.getElementById('connect').click();"
                            "__done(document.getElementById('widi-none').classList.contains('hidden'));")
        self.assertNoErrors(got)
        self.assertFalse(got["result"])
        self.assertEqual(self.calls(got, "C_ConnectWIDI"), [])

    def test_error_page_retries(self):
        got = self.run_page(self.page("Error.html"), "", "document.getElementById('retry').click(); __done(null);")
        self.assertNoErrors(got)
        self.assertEqual([c[0] for c in got["calls"]], ["ReErrorHtml"])


class StorePageTest(StoreRunning):
    def store_page(self, path, query="?vs=1&user=&pass=&source="):
        with urllib.request.urlopen(self.base + path + query, timeout=10) as r:
            return r.read().decode("utf-8")

    CARDS = r"""
      function cards() {
        return Array.prototype.map.call(document.querySelectorAll(".card"), function (c) {
          return [c.getAttribute("data-pid"), c.querySelector(".name").textContent,
                  c.querySelector(".date").textContent, c.querySelector(".price").textContent,
                  c.querySelector("img").naturalWidth];
        });
      }
    """

    def test_pages_list_the_catalogue_with_filters(self):
        # The store's catalogue: eight HTML and two Flash magazines, five HTML and one Flash book.
        cases = [("/touch/magazine/", "mag", 10, ["全部", "时尚", "财经"], "便捷模式"),
                 ("/touch/book/", "book", 6, ["全部", "小说", "历史"], "便捷模式"),
                 ("/enter/magazine/", "mag", 10, ["全部", "时尚", "财经"], "普通模式"),
                 ("/enter/velkor/", "book", 6, ["全部", "小说", "历史"], "普通模式")]
        for path, kind, count, filters, mode in cases:
            with self.subTest(path=path):
                scenario = self.CARDS + r"""
                  __waitFor(function () {
                    return Array.prototype.every.call(document.images, function (i) { return i.complete; });
                  }, function () {
                  var all = cards();
                  document.querySelectorAll("nav a")[2].click();
                  __done({all: all, filtered: cards().map(function (c) { return c[0]; }),
                          filters: Array.prototype.map.call(document.querySelectorAll("nav a"),
                                                            function (a) { return a.textContent; }),
                          mode: document.getElementById("mode").textContent});
                  });
                """
                got = self.run_page(self.store_page(path), "", scenario, base=self.base + "/")
                self.assertNoErrors(got)
                r = got["result"]
                self.assertEqual(len(r["all"]), count)
                self.assertEqual(r["filters"], filters)
                self.assertEqual(r["mode"], mode)
                first = r["all"][0]
                if kind == "mag":
                    self.assertEqual(first[:4], ["m1", "杂志第1号", "2026-01", "¥1"])
                    self.assertEqual(r["filtered"], ["m2", "m4", "m6", "m8", "f2"])
                else:
                    self.assertEqual(first[:4], ["b1", "图书1", "第1版", "¥5"])
                    self.assertEqual(r["filtered"], ["b2", "b4"])
                self.assertTrue(all(c[4] == 240 for c in r["all"]), "every cover loaded")
                self.assertEqual(self.calls(got, "C_HtmlLoad"), [[]])

    def test_buttons_call_the_program(self):
        scenario = r"""
          var card = document.querySelector('.card[data-pid="m3"]');
          card.querySelector(".download").click();
          card.querySelector(".read").click();
          js_ReDownLoad("2", "11", "m3");
          var added = card.querySelector(".note").textContent;
          js_ReDownLoad("0", "", "m3");
          var failed = card.querySelector(".note").textContent;
          document.querySelectorAll("nav a")[1].click();
          document.getElementById("shelf").click();
          document.getElementById("mode").click();
          var name = document.getElementById("user-name").textContent;
          js_UserLogin("", "", "", "", "");
          var out = document.getElementById("user-out").classList.contains("hidden");
          __done({added: added, failed: failed, name: name, out: out});
        """
        got = self.run_page(self.store_page("/touch/magazine/", "?vs=1&user=cmVhZGVy&pass=pa%20ss%26%231&source="),
                            "", scenario, base=self.base + "/")
        self.assertNoErrors(got)
        r = got["result"]
        self.assertEqual(self.calls(got, "C_DownLoadFile"), [["mag", "m3", ""]])
        self.assertEqual(self.calls(got, "C_ReadFile"), [["mag", "m3", ""]])
        self.assertEqual(self.calls(got, "C_GoShelf"), [["mag", "11"]])
        self.assertEqual(self.calls(got, "C_SetUserMode"), [["enter"]])
        self.assertEqual((r["added"], r["failed"]), ("已加入下载列表", "下载失败，请稍后重试"))
        self.assertEqual(r["name"], "reader")
        self.assertFalse(r["out"])

    def test_login_and_logoff_on_the_store_page(self):
        scenario = r"""
          var before = document.getElementById("user-in").classList.contains("hidden");
          document.getElementById("login-name").value = "poor";
          document.getElementById("login-pass").value = "secret";
          document.querySelector("#user-out button").click();
          __waitFor(function () { return __calls("C_UserLogin").length; }, function () {
            var name = document.getElementById("user-name").textContent;
            document.getElementById("logoff").click();
            __done({before: before, name: name,
                    after: document.getElementById("user-in").classList.contains("hidden")});
          });
        """
        # A password that is not the user's shows nobody.
        got = self.run_page(self.store_page("/touch/book/", "?vs=1&user=cmVhZGVy&pass=bad&source="), "", scenario,
                            base=self.base + "/")
        self.assertNoErrors(got)
        self.assertEqual(got["result"], {"before": True, "name": "poor", "after": True})
        self.assertEqual(self.calls(got, "C_UserLogin"), [["1002", "poor", "secret", "0", "0", "1"]])
        self.assertEqual(self.calls(got, "C_UserLogoff"), [[]])


class ScreenshotTest(StoreRunning):
    """The four pages as a user meets them, written to KESTRIN_SHOTS for a look; each must also
    come up without a script error or a missing file."""

    def shot(self, source, name, size, setup="", scenario="__done(null);", base=None, query=""):
        got = self.run_page(source, setup, scenario, base=base, query=query, shot=name, size=size)
        self.assertNoErrors(got)
        return got

    def test_store_page(self):
        with urllib.request.urlopen(self.base + "/touch/magazine/?vs=1&user=cmVhZGVy&pass=pa%20ss%26%231&source=",
                                    timeout=10) as r:
            source = r.read().decode("utf-8")
        self.shot(source, "store-page.png", (900, 640), scenario='js_ReDownLoad("2", "11", "m3"); __done(null);',
                  base=self.base + "/")

    def test_shelf_page(self):
        cover = self.base + "/covers/%s.jpg"
        records = ";".join([
            "%s,m1,2,100,杂志第1号 2026-01,m1" % (cover % "m1"),
            "%s,m2,1,62,杂志第2号 2026-02,m2" % (cover % "m2"),
            "%s,m3,0,40,杂志第3号, 特刊 2026-03,m3" % (cover % "m3"),
            "%s,m4,0,0,杂志第4号 2026-04,m4" % (cover % "m4"),
            "/nonexistent/cover.jpg,m5,2,100,没有封面的杂志 2026-05,m5",
        ])
        self.shot(self.page("Bookshelf2.html"), "shelf-page.png", (900, 600),
                  SHELF_PROGRAM + "shelfData.mag = %s;" % json.dumps(records),
                  "__waitFor(function () { return Array.prototype.every.call(document.images,"
                  " function (i) { return i.complete; }); }, function () { __done(null); });")

    def test_login_page(self):
        self.shot(self.page("login.html"), "login-page.png", (492, 433), '__answer("C_GetLoginMode", false);',
                  query="?store=" + self.base)

    def test_settings_page(self):
        self.shot(self.page("Setting.html"), "settings-page.png", (492, 348), SettingPageTest.PROGRAM)


if __name__ == "__main__":
    unittest.main()
