// The login dialog's page. It checks the user name and password with the store itself (the one
// request this page makes) and hands the store's answer to the program, which keeps the login and
// closes the dialog.
"use strict";

// The store host: the program may name it in the page address (login.html?store=http://...);
// otherwise the store the client uses by default.
var DEFAULT_STORE = "http://store.kestrin.example";
var LOGIN_PATH = "/touch/login/?vs=1&source=";

function storeHost() {
  var m = /[?&]store=([^&#]*)/.exec(location.search);
  var host = m ? decodeURIComponent(m[1]) : DEFAULT_STORE;
  return host.replace(/\/+$/, "");
}

function say(text, kind) {
  var m = document.getElementById("message");
  m.textContent = text;
  m.className = "message " + (kind || "error");
}

function busy(on) {
  var b = document.getElementById("submit");
  b.disabled = on;
  b.textContent = on ? "正在登录…" : "登 录";
}

// The store answers with a small JSON record: {"result": "ok", "userid", "username", "vip",
// "money"} or {"result": "error", "message"}.
function takeAnswer(answer, password, autologin) {
  if (!answer || answer.result !== "ok") {
    say(answer && answer.message ? String(answer.message) : "登录失败，请稍后再试");
    return;
  }
  var ok = window.external.C_LoginOK(String(answer.userid || ""), String(answer.username || ""), password,
                                     String(answer.vip || "0"), String(answer.money || "0"),
                                     autologin ? "1" : "0");
  if (!ok) say("登录信息不完整，请重新登录");
  else say("登录成功", "info");
}

function login(e) {
  e.preventDefault();
  var name = document.getElementById("username").value.trim();
  var password = document.getElementById("password").value;
  var autologin = document.getElementById("autologin").checked;
  if (!name) { say("请输入用户名"); document.getElementById("username").focus(); return; }
  if (!password) { say("请输入密码"); document.getElementById("password").focus(); return; }
  var chosen = document.querySelector("#mode input:checked");
  if (!document.getElementById("mode").classList.contains("hidden") && chosen)
    window.external.C_SetUserMode(chosen.value);
  say("", "info");
  busy(true);
  var xhr = new XMLHttpRequest();
  xhr.open("POST", storeHost() + LOGIN_PATH);
  xhr.setRequestHeader("Content-Type", "application/x-www-form-urlencoded");
  xhr.timeout = 15000;
  xhr.onload = function () {
    busy(false);
    var answer = null;
    try { answer = JSON.parse(xhr.responseText); } catch (err) { answer = null; }
    if (xhr.status !== 200 && !(answer && answer.message)) {
      say("书店暂时无法登录（" + xhr.status + "），请稍后再试");
      return;
    }
    takeAnswer(answer, password, autologin);
  };
  xhr.onerror = xhr.ontimeout = function () {
    busy(false);
    say("无法连接到书店，请检查网络后重试");
  };
  xhr.send("username=" + encodeURIComponent(name) + "&password=" + encodeURIComponent(password));
}

window.addEventListener("load", function () {
  document.getElementById("form").addEventListener("submit", login);
  document.getElementById("close").addEventListener("click", function () { window.external.C_LoginClose(""); });
  document.getElementById("experience").addEventListener("click", function (e) {
    e.preventDefault();
    window.external.C_ExperienceRead("");
  });
  // A TRUE answer lets the user choose the "enter" mode here; FALSE offers the ordinary login only.
  if (window.external.C_GetLoginMode("")) document.getElementById("mode").classList.remove("hidden");
  document.getElementById("username").focus();
});
