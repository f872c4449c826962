#pragma once
// URL text split into its parts. Every rule here works on the plain text:
// nothing is decoded or case-folded.
#include <string>

// The host of a URL: after the first "://" (if any), up to the first "/" or
// ":"; "." alone counts as no host. Backslashes count as slashes.
std::string URLHost(const std::string& url);
