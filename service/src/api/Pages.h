#pragma once

#include <string>

namespace clipvane::service {

// The port the service listens on unless told otherwise, and the one its pages tell people about.
inline constexpr int kDefaultListenPort = 8470;

} // namespace clipvane::service

namespace clipvane::service::Pages {

// Where sign-in starts: the application opens it, the sign-in form posts back to it, and
// Google returns to it.
inline constexpr char kSignInPath[] = "/gauth/login.php";

std::string playerHtml(); // the player page
std::string playerCsp();  // its Content-Security-Policy header value
std::string aboutHtml();  // "/"
std::string localSignInForm(const std::string &errorText,
                            const std::string &appState = {}); // e-mail form (POST back to kSignInPath, field "email")
std::string signInRefused();                                   // no Google client and not on loopback
std::string redirectPage(const std::string &clipvaneshelfUrl); // page that sends the browser to the callback

// A sign-in that went wrong (Google refused, state expired): the message and a way to start again.
std::string signInFailed(const std::string &errorText);

// Content-Security-Policy value for every other page (about, sign-in, refusal, failure, redirect).
std::string pagesCsp();

// Escapes &, <, >, " and ' for HTML text and attribute values.
std::string htmlEscape(const std::string &text);

} // namespace clipvane::service::Pages
