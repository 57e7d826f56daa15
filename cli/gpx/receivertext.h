// GPX text as a receiver keeps it: upper-case ASCII, names cut to the
// receiver's width and kept apart there.
#pragma once

#include <functional>
#include <map>
#include <set>
#include <string>

#include "gpx/gpx.h"

namespace halvex {

// UTF-8 text in the characters a receiver keeps: letters with diacritics
// (and other scripts) become their plain Latin letters; any other character
// outside ASCII becomes one '-'. The library upper-cases what the
// receiver's types keep in upper case.
std::string ReceiverText(const std::string &utf8);
// ASCII letters in upper case, as receivers of fixed-width names keep them.
std::string Upper(std::string text);

// Gives every waypoint a receiver name of at most width characters, distinct
// from the others whatever their case: TOWER1 and TOWER12 become TOWER1 and
// TOWE01, and two waypoints named alike at different places get two names.
// The same name at the same place always gets the same receiver name, so a
// route's points still name the waypoints they are. width 0 keeps names
// whole.
class ShortNames {
public:
    ShortNames(std::size_t width, std::function<void(const std::string &from, const std::string &to)> onRename)
        : width_(width), onRename_(std::move(onRename))
    {
    }
    std::string operator()(const std::string &name, double latitude, double longitude);

private:
    std::size_t width_;
    std::function<void(const std::string &, const std::string &)> onRename_;
    std::map<std::string, std::string> given_; // by name and place
    std::set<std::string> taken_;
};

} // namespace halvex
