// The movie window's side of ExternalInterface: Ruffle plays the reader movie, and this page
// carries the calls between the movie and its host in the control's XML forms, so that the host
// reads and writes only the XML and never sees Ruffle.
//
// The boundary is two plain functions, both synchronous:
//   window.hostFlashCall(xmlRequest) -> xmlResult   given by the host; the movie's
//       ExternalInterface.call(name, args...) arrives there as
//       <invoke name="NAME" returntype="xml"><arguments><string>...</string></arguments></invoke>
//       and its result ("<string>...</string>", "<number>...</number>", "<null/>"...,
//       or "" for no answer) is what the call returns in the movie.
//   window.playerCallFunction(xmlRequest) -> xmlResult   given here; calls the movie's
//       ExternalInterface.addCallback function named by the invoke element with its arguments
//       and answers with the function's result in the same XML, or "" when there is none.
// window.playerLoadMovie(address) starts a movie; "player.html?movie=ADDRESS" does so at load.
(function() {
"use strict";

// Ruffle builds an Intl.Locale from navigator.language; a browser started under LANG=C
// reports a tag that Intl refuses ("invalid language tag") and the player never starts.
function validTag(tag) {
    try {
        new Intl.Locale(tag);
        return true;
    } catch (e) {
        return false;
    }
}
if (!validTag(navigator.language)) {
    Object.defineProperty(navigator, "language", {value : "zh-CN", configurable : true});
    Object.defineProperty(navigator, "languages", {value : [ "zh-CN" ], configurable : true});
}

// The program sets the control's window mode to "transparent", its quality to "high" and its
// script access to "always". The canvas renderers work without a GPU, and the canvas font
// renderer draws device text with the system's fonts, which hold the Chinese glyphs.
window.RufflePlayer = window.RufflePlayer || {};
window.RufflePlayer.config = {
    polyfills : false,
    preferredRenderer : "canvas",
    deviceFontRenderer : "canvas",
    wmode : "transparent",
    quality : "high",
    allowScriptAccess : true,
    autoplay : "on",
    unmuteOverlay : "hidden",
    splashScreen : false,
    letterbox : "off",
    contextMenu : "off",
    warnOnUnsupportedContent : false,
    logLevel : "warn",
};

// The names the reader movie calls out with. Ruffle looks each up on the window.
const MOVIE_CALLS =
    [ "C_GetOpenMag", "C_ShiftPath", "C_UserPriceBuy", "JS_closeWin", "JS_subscribe", "ShowLoginDlg" ];

function escapeXml(s) {
    return String(s)
        .replace(/&/g, "&amp;")
        .replace(/</g, "&lt;")
        .replace(/>/g, "&gt;")
        .replace(/"/g, "&quot;");
}

function valueToXml(v) {
    if (v === undefined)
        return "<undefined/>";
    if (v === null)
        return "<null/>";
    if (v === true)
        return "<true/>";
    if (v === false)
        return "<false/>";
    if (typeof v === "number")
        return "<number>" + String(v) + "</number>";
    return "<string>" + escapeXml(v) + "</string>";
}

function xmlToValue(el) {
    switch (el.tagName) {
    case "string":
        return el.textContent;
    case "number":
        return Number(el.textContent);
    case "true":
        return true;
    case "false":
        return false;
    case "null":
        return null;
    default:
        return undefined;
    }
}

function parseXml(text) {
    if (typeof text !== "string" || text === "")
        return null;
    const doc = new DOMParser().parseFromString(text, "text/xml");
    if (doc.getElementsByTagName("parsererror").length)
        return null;
    return doc.documentElement;
}

function resultValue(text) {
    const el = parseXml(text);
    return el ? xmlToValue(el) : undefined;
}

let player = null;

function callOut(name, args) {
    const host = window.hostFlashCall;
    if (typeof host !== "function")
        return undefined;
    const request = '<invoke name="' + escapeXml(name) + '" returntype="xml"><arguments>' +
                    args.map(valueToXml).join("") + "</arguments></invoke>";
    // The host may call into the movie before it answers (the item is handed over from
    // inside C_GetOpenMag); the player takes such calls at once, as the control does.
    return resultValue(host(request));
}

function callIn(name, args) {
    if (!player || typeof player[name] !== "function")
        return "";
    const r = player[name].apply(player, args);
    return r === undefined ? "" : valueToXml(r);
}

for (const name of MOVIE_CALLS)
    window[name] = function() { return callOut(name, Array.prototype.slice.call(arguments)); };

window.playerCallFunction = function(xmlRequest) {
    const invoke = parseXml(xmlRequest);
    if (!invoke || invoke.tagName !== "invoke")
        return "";
    const name = invoke.getAttribute("name") || "";
    const args = [];
    for (const holder of invoke.children) {
        if (holder.tagName !== "arguments")
            continue;
        for (const el of holder.children)
            args.push(xmlToValue(el));
    }
    return callIn(name, args);
};

window.playerLoadMovie = function(address) {
    const stage = document.getElementById("stage");
    if (player)
        player.remove();
    player = window.RufflePlayer.newest().createPlayer();
    stage.appendChild(player);
    const mine = player;
    // The player hears keys only while it has the focus, as the control has it in its window;
    // given once the movie runs, since the player listens from then on.
    return player.ruffle().load({url : address}).then(function() {
        if (player === mine)
            mine.focus();
    });
};

document.addEventListener("DOMContentLoaded", function() {
    const movie = new URLSearchParams(location.search).get("movie");
    if (movie)
        window.playerLoadMovie(movie);
});
})();
