#include "gpx/receivertext.h"

#include <unicode/translit.h>
#include <unicode/unistr.h>

#include <cctype>
#include <cstdio>
#include <memory>

#include "terminal/errors.h"
#include "terminal/terminal.h"

namespace halvex {

namespace {

constexpr char kReplacement = '-';

const icu::Transliterator &ToAscii()
{
    static std::unique_ptr<icu::Transliterator> transliterator = [] {
        UErrorCode error = U_ZERO_ERROR;
        std::unique_ptr<icu::Transliterator> made(
            icu::Transliterator::createInstance("Any-Latin; Latin-ASCII", UTRANS_FORWARD, error));
        if (U_FAILURE(error) || !made)
            throw Failure(ExitFailure, std::string("cannot load the transliteration rules: ") + u_errorName(error));
        return made;
    }();
    return *transliterator;
}

} // namespace

std::string ReceiverText(const std::string &utf8)
{
    icu::UnicodeString text = icu::UnicodeString::fromUTF8(utf8);
    ToAscii().transliterate(text);
    std::string out;
    for (int32_t i = 0; i < text.length(); i = text.moveIndex32(i, 1)) {
        UChar32 c = text.char32At(i);
        out += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : kReplacement;
    }
    return out;
}

std::string Upper(std::string text)
{
    for (char &c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string ShortNames::operator()(const std::string &name, double latitude, double longitude)
{
    char place[64];
    std::snprintf(place, sizeof place, "@%.9f,%.9f", latitude, longitude);
    auto known = given_.find(name + place);
    if (known != given_.end())
        return known->second;
    std::string receiverName = width_ ? name.substr(0, width_) : name;
    for (int n = 1; taken_.count(Upper(receiverName)); n++) {
        std::string number = std::to_string(n);
        if (number.size() < 2)
            number.insert(0, 1, '0');
        // Whole names (width 0) keep all their characters before the number.
        std::size_t room = width_ ? width_ : name.size() + number.size();
        std::size_t keep = room > number.size() ? room - number.size() : 0;
        receiverName = name.substr(0, keep) + number;
    }
    if (receiverName != name.substr(0, width_ ? width_ : name.size()))
        onRename_(name, receiverName);
    taken_.insert(Upper(receiverName));
    given_.emplace(name + place, receiverName);
    return receiverName;
}

} // namespace halvex
