#!/usr/bin/env python3
"""Checks of the replacement store against a real instance on loopback, through urllib and curl."""
import hashlib
import http.client
import os
import shutil
import subprocess
import sys
import unittest
import xml.etree.ElementTree as ET

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import kestrin_store  # noqa: E402


class StoreTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.proc = subprocess.Popen([sys.executable, os.path.join(HERE, "kestrin_store.py"), "--watch-stdin"],
                                    stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        cls.port = int(cls.proc.stdout.readline())

    @classmethod
    def tearDownClass(cls):
        cls.proc.stdin.close()
        cls.proc.wait(timeout=10)
        cls.proc.stdout.close()

    def setUp(self):
        self.get("/_control/reset")

    def get(self, path, headers=None, method="GET", body=None):
        c = http.client.HTTPConnection("127.0.0.1", self.port, timeout=10)
        c.request(method, path, body=body, headers=headers or {})
        r = c.getresponse()
        data = r.read()
        c.close()
        return r, data

    def raw(self, request):
        import socket
        s = socket.create_connection(("127.0.0.1", self.port), timeout=10)
        s.sendall(request)
        out = b""
        while True:
            d = s.recv(65536)
            if not d:
                break
            out += d
        s.close()
        return out

    def test_item_reply_is_a_booklist_with_the_asked_record(self):
        r, data = self.get("/touch/api/?vs=1&type=mag&pid=m3&source=")
        self.assertEqual(r.status, 200)
        root = ET.fromstring(data)
        self.assertEqual(root.tag, "api")
        recs = root.findall("booklist")
        self.assertEqual(len(recs), 1)
        self.assertEqual(recs[0].findtext("pid"), "m3")
        self.assertEqual(recs[0].findtext("type"), "mag")
        load = recs[0].findtext("load_url")
        self.assertTrue(load.endswith("/packages/m3.exe"))
        # The field order is the one the client's reader needs.
        tags = [e.tag for e in recs[0]]
        order = ["id", "pid", "sort_id", "class_id", "brand_id", "feature", "name", "date", "isFullSwf", "price",
                 "exe_size", "load_url", "pic1", "s_pic", "description", "rec_content", "add_time", "type"]
        self.assertEqual(tags, order)
        pkg_r, pkg = self.get(load[load.index("/packages"):])
        self.assertEqual(pkg[:2], b"MZ")
        self.assertEqual(int(recs[0].findtext("exe_size")), len(pkg))

    def test_unknown_empty_and_wrong_type_items_answer_empty(self):
        for q in ("type=mag&pid=zzz", "type=book&pid=m1", "type=mag&pid=empty1"):
            r, data = self.get("/touch/api/?vs=1&%s&source=" % q)
            self.assertEqual((r.status, data), (200, b""), q)

    def test_categories(self):
        for kind in ("book", "mag"):
            r, data = self.get("/touch/api/?vs=1&act=sortClass&class=%s&source=" % kind)
            root = ET.fromstring(data)
            sorts = root.findall("sort")
            self.assertTrue(sorts)
            for s in sorts:
                for it in s.findall("item"):
                    self.assertEqual(it.get("p_id"), s.get("id"))

    def test_purchase_answers(self):
        base = "/touch/system/index.php/index/magBuy/?vs=1"
        pwd = "pa%20ss%26%231"  # "pa ss&#1" percent-encoded
        cases = [
            ("uid=1001&pwd=%s&type=mag&act=client&username=reader&pid=m2" % pwd, b"1"),
            ("uid=1001&pwd=%s&type=mag&act=client&username=reader&pid=m2" % pwd, b"exist"),
            ("uid=1002&pwd=secret&type=mag&act=client&username=poor&pid=m1", b"lack"),
            ("uid=1001&pwd=wrong&type=mag&act=client&username=reader&pid=m1", b"error"),
            ("uid=1001&pwd=%s&type=mag&act=client&username=reader&pid=nothing" % pwd, b"error"),
        ]
        for q, want in cases:
            r, data = self.get(base + "&" + q + "&source=")
            self.assertEqual(data, want, q)

    def test_update_manifest_default_and_set(self):
        r, data = self.get("/touch/update.xml")
        self.assertEqual(ET.fromstring(data).tag, "files")
        m = b'<files><file file_name="skin" file_type="1" version="9" url="u" mode="0"/></files>'
        self.get("/_control/manifest", method="POST", body=m)
        self.assertEqual(self.get("/touch/update.xml")[1], m)

    def test_ranges_and_faults(self):
        whole = kestrin_store.payload(100000, 0)
        cases = [
            ({}, {}, 200, whole),
            ({"Range": "bytes=40000-"}, {}, 206, whole[40000:]),
            ({"Range": "bytes=40000-"}, {"norange": "1"}, 200, whole),
            ({}, {"chunked": "1"}, 200, whole),
            ({}, {"redirect": "3"}, 200, whole),
        ]
        for hdrs, fault, status, want in cases:
            q = "".join("&%s=%s" % kv for kv in fault.items())
            r, data = self.get("/blob?size=100000" + q, hdrs)
            if fault.get("redirect"):
                self.assertEqual(r.status, 302)
                continue
            self.assertEqual((r.status, data), (status, want), (hdrs, fault))
        r, _ = self.get("/blob?size=100", {"Range": "bytes=100-"})
        self.assertEqual((r.status, r.getheader("Content-Range")), (416, "bytes */100"))

    def test_redirects_and_cut_through_curl(self):
        if not shutil.which("curl"):
            self.skipTest("no curl")
        base = "http://127.0.0.1:%d" % self.port
        out = subprocess.run(["curl", "-s", "-L", base + "/blob?size=5000&redirect=2"], capture_output=True,
                             timeout=20)
        self.assertEqual(out.stdout, kestrin_store.payload(5000, 0))
        self.get("/_control/fault?cut=1234&count=1")
        first = subprocess.run(["curl", "-s", base + "/blob?size=5000"], capture_output=True, timeout=20)
        self.assertEqual(len(first.stdout), 1234)
        self.assertNotEqual(first.returncode, 0)  # curl sees the short body
        second = subprocess.run(["curl", "-s", base + "/blob?size=5000"], capture_output=True, timeout=20)
        self.assertEqual(second.stdout, kestrin_store.payload(5000, 0))

    def test_wrong_length_and_status(self):
        raw = self.raw(b"GET /blob?size=10&badlength=5 HTTP/1.1\r\nHost: x\r\n\r\n")
        head, _, body = raw.partition(b"\r\n\r\n")
        self.assertIn(b"Content-Length: 15", head)
        self.assertEqual(len(body), 10)
        r, _ = self.get("/blob?size=10&status=503")
        self.assertEqual(r.status, 503)

    def test_uploaded_file_is_served_with_ranges(self):
        blob = os.urandom(3000)
        self.get("/_control/file?name=skin.9", method="POST", body=blob)
        r, data = self.get("/files/skin.9", {"Range": "bytes=1000-"})
        self.assertEqual((r.status, data), (206, blob[1000:]))
        self.assertEqual(hashlib.sha256(self.get("/files/skin.9")[1]).digest(), hashlib.sha256(blob).digest())

    def test_gate_holds_the_body_until_released(self):
        import socket
        s = socket.create_connection(("127.0.0.1", self.port), timeout=10)
        s.sendall(b"GET /blob?size=200000&gate=g1 HTTP/1.1\r\nHost: x\r\n\r\n")
        got = b""
        while len(got) < 65536 + 60:
            got += s.recv(65536)
        s.settimeout(0.5)
        with self.assertRaises(socket.timeout):
            s.recv(65536)
        self.get("/_control/release?gate=g1")
        s.settimeout(10)
        while True:
            d = s.recv(65536)
            if not d:
                break
            got += d
        s.close()
        self.assertEqual(got.partition(b"\r\n\r\n")[2], kestrin_store.payload(200000, 0))

    def test_no_length_and_delay(self):
        raw = self.raw(b"GET /blob?size=1000&nolength=1 HTTP/1.1\r\nHost: x\r\n\r\n")
        head, _, body = raw.partition(b"\r\n\r\n")
        self.assertNotIn(b"Content-Length", head)
        self.assertEqual(body, kestrin_store.payload(1000, 0))

    def test_faults_with_a_path_reach_any_answer(self):
        self.get("/_control/fault?path=/touch/api/&status=500&count=1")
        # A download does not take a fault meant for the API.
        self.assertEqual(self.get("/blob?size=10")[0].status, 200)
        self.assertEqual(self.get("/touch/api/?vs=1&type=mag&pid=m1&source=")[0].status, 500)
        self.assertEqual(self.get("/touch/api/?vs=1&type=mag&pid=m1&source=")[0].status, 200)
        self.get("/_control/fault?path=/touch/update.xml&cut=5&count=1")
        raw = self.raw(b"GET /touch/update.xml HTTP/1.1\r\nHost: x\r\n\r\n")
        self.assertEqual(len(raw.partition(b"\r\n\r\n")[2]), 5)

    def test_multinot_answers_records_other_than_the_one_asked(self):
        r, data = self.get("/touch/api/?vs=1&type=mag&pid=multinot1&source=")
        pids = [b.findtext("pid") for b in ET.fromstring(data).findall("booklist")]
        self.assertEqual(pids, ["multinot1-other1", "multinot1-other2"])

    def test_long_named_items_carry_the_name_asked_for_and_a_real_package(self):
        for pid, n, first in (("longcjk100", 100, "长"), ("longascii255", 255, "A")):
            r, data = self.get("/touch/api/?vs=1&type=mag&pid=%s&source=" % pid)
            record = ET.fromstring(data).find("booklist")
            name = record.findtext("name")
            self.assertEqual((record.findtext("pid"), len(name), name[0]), (pid, n, first))
            path = "/" + record.findtext("load_url").split("/", 3)[3]
            self.assertEqual(self.get(path)[1], self.get("/packages/m1.exe")[1])

    def test_covers_are_jpegs_a_browser_decodes(self):
        chromium = shutil.which("chromium")
        if not chromium:
            self.skipTest("no chromium")
        import base64
        import tempfile
        r, data = self.get("/covers/m2.jpg")
        self.assertEqual(r.getheader("Content-Type"), "image/jpeg")
        page = ("<html><body><img id=i src='data:image/jpeg;base64,%s'><p id=o>x</p><script>"
                "var i=document.getElementById('i');function f(){document.getElementById('o').textContent="
                "'W='+i.naturalWidth+' H='+i.naturalHeight;}"
                "if(i.complete)f();else{i.onload=f;i.onerror=function(){document.getElementById('o')"
                ".textContent='bad';};}</script></body></html>") % base64.b64encode(data).decode()
        with tempfile.TemporaryDirectory() as d:
            html = os.path.join(d, "c.html")
            with open(html, "w") as f:
                f.write(page)
            out = subprocess.run([chromium, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                                  "--no-first-run", "--disable-background-networking",
                                  "--disable-component-update", "--disable-sync",
                                  "--user-data-dir=" + os.path.join(d, "profile"), "--virtual-time-budget=3000",
                                  "--dump-dom", "file://" + html], capture_output=True, timeout=90)
        self.assertIn(b"W=240 H=320", out.stdout)

    def test_html_items_hold_reading_pages_whose_pictures_they_carry(self):
        import re
        for item in kestrin_store.make_items():
            files = kestrin_store.html_item_files(item)
            for page in (b"view1.html", b"view2.html"):
                text = files[page].decode("gbk")  # the pages are GBK text
                self.assertIn('charset="gbk"', text)
                self.assertIn(item["name"], text)
                self.assertIn("window.external.C_Close", text)
                named = re.search(r"var pages = \[(.*?)\];", text).group(1)
                pictures = [n.strip().strip('"') for n in named.split(",")]
                # Relative addresses of the item's own pictures, each one in the package.
                self.assertEqual(pictures, ["p%d.jpg" % n for n in range(1, len(pictures) + 1)])
                self.assertGreaterEqual(len(pictures), 3)
                for name in pictures:
                    self.assertTrue(files[name.encode()].startswith(b"\xff\xd8"), name)
            self.assertNotEqual(files[b"p1.jpg"], files[b"p2.jpg"])
        priced = next(i for i in kestrin_store.make_items() if int(i["price"]))
        self.assertIn("付费", kestrin_store.html_item_files(priced)[b"view2.html"].decode("gbk"))

    def test_online_reading_pages_show_the_items_pages_from_the_store(self):
        import re
        for pid, path in (("m2", "/touch/read/mag/"), ("b1", "/touch/read/book/"), ("f1", "/touch/read/mag/")):
            item = next(i for i in kestrin_store.make_items() + kestrin_store.make_flash_items() if i["pid"] == pid)
            r, data = self.get(path + "?vs=1&pid=" + pid)
            self.assertEqual((r.status, r.getheader("Content-Type")), (200, "text/html; charset=gbk"))
            text = data.decode("gbk")
            self.assertIn("<title>%s</title>" % item["name"], text)
            self.assertIn("background: %s" % kestrin_store.ONLINE_PAPER, text)
            pictures = [n.strip().strip('"') for n in re.search(r"var pages = \[(.*?)\];", text).group(1).split(",")]
            self.assertEqual(pictures, ["/touch/read/pages/%s/p%d.jpg" % (pid, n)
                                        for n in range(1, kestrin_store.item_page_count(item) + 1)])
            for address in pictures:
                r, picture = self.get(address)
                self.assertEqual((r.status, r.getheader("Content-Type")), (200, "image/jpeg"), address)
                # The picture the item's package carries for that page.
                self.assertEqual(picture, kestrin_store.item_page_picture(item, int(re.search(r"p(\d+)\.jpg$", address).group(1))))
        # An item the store does not have: a page that says so, and no pictures past the last.
        r, data = self.get("/touch/read/mag/?vs=1&pid=")
        self.assertEqual(r.status, 200)
        self.assertIn("没有找到", data.decode("gbk"))
        self.assertEqual(self.get("/touch/read/pages/m2/p99.jpg")[0].status, 404)
        self.assertEqual(self.get("/touch/read/pages/nosuch/p1.jpg")[0].status, 404)

    def test_listens_on_the_port_it_is_given(self):
        import socket
        s = socket.socket()
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
        s.close()
        proc = subprocess.Popen([sys.executable, os.path.join(HERE, "kestrin_store.py"), "--port", str(port),
                                 "--watch-stdin"], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        try:
            self.assertEqual(int(proc.stdout.readline()), port)
            c = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
            c.request("GET", "/touch/update.xml")
            self.assertEqual(c.getresponse().status, 200)
            c.close()
        finally:
            proc.stdin.close()
            proc.wait(timeout=10)
            proc.stdout.close()

    def test_range_from_elsewhere(self):
        r, data = self.get("/blob?size=1000&rangefrom=100", {"Range": "bytes=400-"})
        self.assertEqual((r.status, r.getheader("Content-Range")), (206, "bytes 100-999/1000"))
        self.assertEqual(data, kestrin_store.payload(1000, 0)[100:])

    def test_pages(self):
        for p in ("/touch/magazine/", "/touch/book/", "/enter/magazine/", "/enter/velkor/"):
            r, data = self.get(p + "?vs=1&user=u&pass=p&source=")
            self.assertEqual(r.status, 200)
            self.assertIn(b"window.external.C_DownLoadFile", data)
            self.assertIn(b"js_ReDownLoad", data)

    def test_login_answers(self):
        import json
        from urllib.parse import urlencode
        cases = [({"username": "reader", "password": "pa ss&#1"},
                  {"result": "ok", "userid": "1001", "username": "reader", "vip": "1", "money": "100"}),
                 ({"username": "读者", "password": "读书"},
                  {"result": "ok", "userid": "1004", "username": "读者", "vip": "0", "money": "20"}),
                 ({"username": "reader", "password": "x"}, {"result": "error", "message": "用户名或密码错误"}),
                 ({"username": "frozen", "password": "frozen1"},
                  {"result": "error", "message": "该账号已被冻结，请联系客服"}),
                 ({"username": "reader"}, {"result": "error", "message": "请输入用户名和密码"})]
        for form, want in cases:
            r, data = self.get("/touch/login/?vs=1&source=", {"Content-Type": "application/x-www-form-urlencoded"},
                               "POST", urlencode(form).encode("utf-8"))
            self.assertEqual((r.status, json.loads(data)), (200, want), form)
            # The client's login page is a local file: its origin is "null".
            self.assertEqual(r.getheader("Access-Control-Allow-Origin"), "*")
        r, data = self.get("/touch/login/?vs=1&source=")
        self.assertEqual(json.loads(data)["result"], "error")

    def test_store_page_names_the_user_of_a_right_password(self):
        import base64
        import json

        def alt(name):
            return base64.b64encode(name.encode("gbk")).decode().replace("+", "(").replace("/", ")").replace("=", "-")

        cases = [("user=%s&pass=%%E8%%AF%%BB%%E4%%B9%%A6" % alt("读者"), {"userid": "1004", "username": "读者"}),
                 ("user=reader&pass=pa%20ss%26%231", {"userid": "1001", "username": "reader"}),
                 ("user=%s&pass=pa%%20ss%%26%%231" % alt("reader"), {"userid": "1001", "username": "reader"}),
                 ("user=reader&pass=wrong", None), ("user=frozen&pass=frozen1", None), ("user=&pass=", None)]
        for query, user in cases:
            r, data = self.get("/touch/book/?vs=1&%s&source=" % query)
            text = data.decode("utf-8")
            island = text[text.index('type="application/json">') + 24:text.index("</script>")]
            page = json.loads(island)
            self.assertEqual(page["user"], user, query)
            self.assertEqual(page["kind"], "book")
            books = [i for i in kestrin_store.make_items() + kestrin_store.make_flash_items() if i["type"] == "book"]
            self.assertEqual(len(page["items"]), len(books))


if __name__ == "__main__":
    unittest.main()
