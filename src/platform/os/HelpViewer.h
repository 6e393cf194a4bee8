// Showing help pages: a help page is an HTML file of the bundle, opened in the user's web
// browser through the desktop's opener (xdg-open; open on macOS).
//
// The opener is started in the background and not waited for, so the caller returns at once
// whatever the browser does. Nothing is written to the terminal: the opener's output and error
// output go to /dev/null. Set the environment variable VARNIX_HELP_VERBOSE to any value other
// than "" or "0" to see the command line and let the opener's messages through.
#pragma once

#include <string>

namespace varnix {

// The file:// URL of an absolute UTF-8 path; every byte other than letters, digits, "-", ".",
// "_", "~" and "/" is percent-encoded.
std::string FileURL(const std::string& Path);

// Whether VARNIX_HELP_VERBOSE asks for messages.
bool HelpVerbose();

// Starts the opener on URL without waiting for it. False when no process could be started;
// whether the browser then shows the page is not known to the caller.
bool OpenURL(const std::string& URL);

}  // namespace varnix
