// The settings dialog's page. The program fills it (js_setFileVal, SetCheck, AddWIDI) from inside
// C_SetConfig, and takes the three settings back in one C_Settings call.
"use strict";

function js_setFileVal(path) {
  document.getElementById("down_save").value = String(path);
}

function SetCheck(autoStart, taskbar) {
  document.getElementById("auto_start").checked = String(autoStart) === "1";
  document.getElementById("taskbar").checked = String(taskbar) === "1";
}

function AddWIDI(name) {
  var opt = document.createElement("option");
  opt.value = String(name);
  opt.textContent = String(name);
  document.getElementById("widi").appendChild(opt);
  document.getElementById("widi-none").classList.add("hidden");
  document.getElementById("connect").disabled = false;
}

window.addEventListener("load", function () {
  var x = window.external;
  document.getElementById("connect").disabled = true;
  document.getElementById("close").addEventListener("click", function () { x.C_Close(); });
  document.getElementById("cancel").addEventListener("click", function () { x.C_Close(); });
  document.getElementById("browse").addEventListener("click", function () { x.C_browseFile(); });
  document.getElementById("connect").addEventListener("click", function () {
    var name = document.getElementById("widi").value;
    if (name) x.C_ConnectWIDI(name);
  });
  document.getElementById("disconnect").addEventListener("click", function () { x.C_DisconnectedWIDI(); });
  document.getElementById("ok").addEventListener("click", function () {
    x.C_Settings(document.getElementById("auto_start").checked ? "1" : "0",
                 document.getElementById("taskbar").checked ? "1" : "0",
                 document.getElementById("down_save").value);
  });
  x.C_SetConfig();
});
