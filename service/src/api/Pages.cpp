#include "api/Pages.h"

#include <QByteArray>
#include <QCryptographicHash>

namespace clipvane::service::Pages {

namespace {

// The player page's own script. The application calls the four global functions only after
// "ready"; a call that arrives earlier is queued and replayed, so it is never lost or harmful.
// Where playback is goes out every second while it plays and before each change of state, so
// the application keeps the position a pause left without asking for it.
constexpr char kPlayerScript[] = R"JS(
(function () {
  'use strict';
  var kMaxQueued = 16;
  var kReportEvery = 1000;
  var ticking = null;
  var player = null;
  var ready = false;
  var queued = [];

  function post(message) {
    try {
      window.webkit.messageHandlers.player.postMessage(message);
    } catch (e) {
      /* no host application: nothing to tell */
    }
  }

  function call(action) {
    if (!ready) {
      queued.push(action);
      if (queued.length > kMaxQueued) {
        queued.shift();
      }
      return;
    }
    try {
      action();
    } catch (e) {
      /* a call the player cannot take right now changes nothing */
    }
  }

  function onReady() {
    ready = true;
    var pending = queued;
    queued = [];
    pending.forEach(call);
    post({ t: 'ready' });
  }

  function from(id, start) {
    return { videoId: String(id), startSeconds: Math.max(0, Number(start) || 0) };
  }

  function reportTime() {
    try {
      post({ t: 'time', p: Number(player.getCurrentTime()) || 0, d: Number(player.getDuration()) || 0 });
    } catch (e) {
      /* no player yet: nothing to tell */
    }
  }

  function onStateChange(event) {
    var state = Number(event.data);
    clearInterval(ticking);
    ticking = null;
    if (state === 1) {
      ticking = setInterval(reportTime, kReportEvery);
    }
    reportTime();
    post({ t: 'state', s: state });
  }

  window.loadVideo = function (id, start) { call(function () { player.loadVideoById(from(id, start)); }); };
  window.cueVideo = function (id, start) { call(function () { player.cueVideoById(from(id, start)); }); };
  window.play = function () { call(function () { player.playVideo(); }); };
  window.pause = function () { call(function () { player.pauseVideo(); }); };

  window.onYouTubeIframeAPIReady = function () {
    player = new YT.Player('player', {
      host: 'https://www.youtube-nocookie.com',
      width: '100%',
      height: '100%',
      playerVars: { playsinline: 1, rel: 0, modestbranding: 1, origin: window.location.origin },
      events: {
        onReady: onReady,
        onStateChange: onStateChange,
        onError: function (event) { post({ t: 'error', c: Number(event.data) }); }
      }
    });
  };
})();
)JS";

constexpr char kPlayerStyle[] = R"CSS(
html, body { margin: 0; padding: 0; width: 100%; height: 100%; overflow: hidden; background: #000; }
#player { position: fixed; top: 0; left: 0; width: 100%; height: 100%; border: 0; display: block; }
)CSS";

constexpr char kPageStyle[] = R"CSS(
:root { color-scheme: dark; }
html, body { margin: 0; padding: 0; background: #08080A; color: #FFFFFF; }
body { font-family: "Hanken Grotesk", system-ui, sans-serif; font-size: 15px; line-height: 1.55; }
main { max-width: 640px; margin: 0 auto; padding: 56px 24px; }
h1 { font-size: 28px; font-weight: 700; margin: 0 0 8px; letter-spacing: -0.01em; }
h1 em { color: #FF2924; font-style: italic; }
h2 { font-size: 17px; font-weight: 600; margin: 32px 0 8px; }
p { margin: 0 0 12px; color: rgba(255, 255, 255, 0.86); }
.muted { color: rgba(255, 255, 255, 0.55); font-size: 13px; }
a { color: #FF2924; }
code { font-family: ui-monospace, "DejaVu Sans Mono", monospace; font-size: 13px;
       background: rgba(255, 255, 255, 0.08); padding: 1px 5px; border-radius: 5px; }
ul { padding-left: 20px; margin: 0 0 12px; }
li { margin: 4px 0; color: rgba(255, 255, 255, 0.86); }
.card { background: rgba(255, 255, 255, 0.04); border: 1px solid rgba(255, 255, 255, 0.12);
        border-radius: 12px; padding: 24px; margin-top: 24px; }
label { display: block; font-weight: 600; margin-bottom: 8px; }
input[type=email] { box-sizing: border-box; width: 100%; padding: 11px 13px; font: inherit; color: #FFFFFF;
        background: rgba(255, 255, 255, 0.06); border: 1px solid rgba(255, 255, 255, 0.16); border-radius: 9px; }
input[type=email]:focus { outline: 2px solid #FF2924; outline-offset: 1px; }
button, .button { display: inline-block; margin-top: 16px; padding: 10px 18px; font: inherit; font-weight: 600;
        color: #FFFFFF; background: #FF2924; border: 0; border-radius: 9px; cursor: pointer; text-decoration: none; }
.error { color: #FF6B66; background: rgba(255, 41, 36, 0.10); border: 1px solid rgba(255, 41, 36, 0.35);
         border-radius: 9px; padding: 10px 12px; margin: 0 0 16px; }
.note { border-left: 3px solid #FF2924; padding-left: 12px; }
)CSS";

std::string sha256Source(const char *text)
{
    const QByteArray digest = QCryptographicHash::hash(QByteArray(text), QCryptographicHash::Sha256);
    return "'sha256-" + digest.toBase64().toStdString() + "'";
}

std::string page(const std::string &title, const std::string &head, const std::string &body)
{
    std::string html = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                       "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
                       "<meta name=\"referrer\" content=\"no-referrer\">\n<title>";
    html += htmlEscape(title);
    html += "</title>\n";
    html += head;
    html += "<style>";
    html += kPageStyle;
    html += "</style>\n</head>\n<body>\n<main>\n";
    html += body;
    html += "</main>\n</body>\n</html>\n";
    return html;
}

constexpr char kBrand[] = "clip<em>vane</em>";
constexpr char kCallbackScheme[] = "clipvaneshelf:";

} // namespace

std::string htmlEscape(const std::string &text)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out.push_back(c);
        }
    }
    return out;
}

std::string playerHtml()
{
    std::string html = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                       "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
                       // YouTube's embed refuses to play without a referring origin.
                       "<meta name=\"referrer\" content=\"strict-origin-when-cross-origin\">\n"
                       "<title>Clipvane player</title>\n<style>";
    html += kPlayerStyle;
    html += "</style>\n</head>\n<body>\n<div id=\"player\"></div>\n<script>";
    html += kPlayerScript;
    html += "</script>\n<script src=\"https://www.youtube.com/iframe_api\" async></script>\n</body>\n</html>\n";
    return html;
}

std::string playerCsp()
{
    return "default-src 'none'; script-src 'self' " + sha256Source(kPlayerScript) +
           " https://www.youtube.com; style-src " + sha256Source(kPlayerStyle) +
           "; frame-src https://www.youtube-nocookie.com; img-src 'self' data:; connect-src 'self'; "
           "base-uri 'none'; form-action 'none'; object-src 'none'";
}

std::string pagesCsp()
{
    return "default-src 'none'; style-src " + sha256Source(kPageStyle) +
           "; img-src 'self' data:; form-action 'self'; base-uri 'none'; object-src 'none'; frame-ancestors 'none'";
}

std::string aboutHtml()
{
    return page("Clipvane service", {},
                R"HTML(<h1>clip<em>vane</em> service</h1>
<p class="muted">The companion service of the Clipvane desktop application.</p>
<p>This service keeps your Clipvane library of YouTube videos in step across your computers, lets
family members share their libraries with each other, answers questions about your library, and
adds links you send to the Telegram bot. It runs on your own machine or on one your family trusts:
your library is stored here and nowhere else.</p>

<h2>Pointing the application at it</h2>
<p>By default the application talks to the service on this computer at
<code>http://127.0.0.1:)HTML" +
                    std::to_string(kDefaultListenPort) +
                    R"HTML(</code>. To use a service elsewhere, start the application with the
environment variable <code>CLIPVANE_API_BASE</code> set to this service's address, or set
<code>apiBase</code> in the application's settings file. Then sign in from the application:
it opens <a href=")HTML" +
                    kSignInPath + R"HTML(">the sign-in page</a> in your browser and returns to the
application when you are done.</p>
<p>For scripts and provisioning, the person who runs the service can print a sign-in token with
<code>clipvane-service token you@example.com</code>.</p>

<h2>What it offers</h2>
<ul>
<li><code>/api/videos.php</code> &mdash; your videos and those shared with you, page by page</li>
<li><code>/api/upsert.php</code>, <code>/api/delete.php</code> &mdash; add, change and remove videos</li>
<li><code>/api/family.php</code> &mdash; share your library with family members</li>
<li><code>/api/account.php</code> &mdash; export or delete your account</li>
<li><code>/api/assistant.php</code> &mdash; ask questions about your library</li>
<li><code>/api/telegram-code.php</code> &mdash; link your Telegram chat to the bot</li>
<li><code>/api/events.php</code> &mdash; a live stream that tells your devices when your library changed</li>
<li><code>/player.html</code> &mdash; the video player page the application embeds</li>
<li><code>)HTML" + kSignInPath +
                    R"HTML(</code> &mdash; sign-in</li>
</ul>
<p class="muted">Every <code>/api/</code> call needs the bearer token the application receives at sign-in.</p>
)HTML");
}

std::string localSignInForm(const std::string &errorText, const std::string &appState)
{
    std::string body = std::string("<h1>Sign in to ") + kBrand + "</h1>\n";
    body += "<p class=\"note\">This is a local Clipvane service without Google sign-in. "
            "Enter your e-mail address to sign in on this computer; no password and no Google account "
            "are involved, and nothing leaves this machine.</p>\n<div class=\"card\">\n";
    if (!errorText.empty())
        body += "<p class=\"error\" role=\"alert\">" + htmlEscape(errorText) + "</p>\n";
    body += "<form method=\"post\" action=\"" + std::string(kSignInPath) +
            "\">\n"
            "<label for=\"email\">E-mail address</label>\n"
            "<input id=\"email\" name=\"email\" type=\"email\" required autofocus autocomplete=\"email\" "
            "maxlength=\"254\" placeholder=\"you@example.com\">\n"
            "<button type=\"submit\">Sign in</button>\n";
    if (!appState.empty())
        body += "<input type=\"hidden\" name=\"state\" value=\"" + htmlEscape(appState) + "\">\n";
    body += "</form>\n</div>\n";
    return page("Sign in — Clipvane", {}, body);
}

std::string signInRefused()
{
    std::string body = std::string("<h1>Sign-in is not available here</h1>\n");
    body += "<p>This Clipvane service has no Google sign-in configured, and without it people may only "
            "sign in from the computer the service runs on.</p>\n"
            "<p>If you run this service: configure a Google OAuth client "
            "(<code>CLIPVANE_GOOGLE_CLIENT_ID</code> and <code>CLIPVANE_GOOGLE_CLIENT_SECRET</code>), "
            "or give people a token with <code>clipvane-service token EMAIL</code>.</p>\n"
            "<p class=\"muted\">Otherwise, ask the person who runs this service to set it up for you.</p>\n";
    return page("Sign-in not available — Clipvane", {}, body);
}

std::string signInFailed(const std::string &errorText)
{
    std::string body = "<h1>Sign-in did not work</h1>\n<div class=\"card\">\n<p class=\"error\" role=\"alert\">";
    body += htmlEscape(errorText.empty() ? std::string("Something went wrong.") : errorText);
    body += "</p>\n<a class=\"button\" href=\"" + std::string(kSignInPath) + "\">Try again</a>\n</div>\n";
    return page("Sign-in failed — Clipvane", {}, body);
}

std::string redirectPage(const std::string &clipvaneshelfUrl)
{
    // Only the application's own callback may be opened from here: anything else in an href or
    // a refresh (a script address, another site) would turn this page into a weapon.
    if (clipvaneshelfUrl.rfind(kCallbackScheme, 0) != 0) {
        return page("Sign-in failed — Clipvane", {},
                    "<h1>Sign-in could not be completed</h1>\n"
                    "<p>Please close this window and try again from the application.</p>\n");
    }
    const std::string target = htmlEscape(clipvaneshelfUrl);
    const std::string head = "<meta http-equiv=\"refresh\" content=\"0;url=" + target + "\">\n";
    std::string body = "<h1>You are signed in</h1>\n"
                       "<p>Returning to Clipvane&hellip; If nothing happens, use the button below.</p>\n";
    body += "<a class=\"button\" href=\"" + target + "\">Open Clipvane</a>\n";
    body += "<p class=\"muted\">You can close this window afterwards.</p>\n";
    return page("Signed in — Clipvane", head, body);
}

} // namespace clipvane::service::Pages
