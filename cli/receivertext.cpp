#include "receivertext.h"

#include <unicode/translit.h>
#include <unicode/unistr.h>

#include <cctype>
#include <memory>

#include "errors.h"
#include "terminal.h"

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

namespace {

// Receivers of fixed-width names keep them in upper case.
std::string Upper(std::string text)
{
    for (char &c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

} // namespace

std::string ShortNames::operator()(const std::string &name)
{
    auto known = given_.find(name);
    if (known != given_.end())
        return known->second;
    std::string receiverName = width_ ? name.substr(0, width_) : name;
    for (int n = 1; taken_.count(Upper(receiverName)); n++) {
        std::string number = std::to_string(n);
        if (number.size() < 2)
            number.insert(0, 1, '0');
        std::size_t keep = width_ > number.size() ? width_ - number.size() : 0;
        receiverName = name.substr(0, keep) + number;
    }
    if (receiverName != name.substr(0, width_ ? width_ : name.size()))
        onRename_(name, receiverName);
    taken_.insert(Upper(receiverName));
    given_.emplace(name, receiverName);
    return receiverName;
}

void PrepareForReceiver(Gpx &gpx, std::size_t nameWidth, std::size_t commentWidth, bool keepNames)
{
    ShortNames shortNames(keepNames ? 0 : nameWidth, [](const std::string &from, const std::string &to) {
        Say("halvex: " + from + " is sent as " + to + ", the receiver keeping " + std::to_string(to.size()) +
            " characters of a name");
    });
    auto prepare = [&](GpxPoint &point) {
        point.name = shortNames(ReceiverText(point.name));
        point.comment = ReceiverText(point.comment);
        if (commentWidth && point.comment.size() > commentWidth)
            point.comment.resize(commentWidth);
    };
    for (GpxPoint &point : gpx.waypoints)
        prepare(point);
    for (GpxRoute &route : gpx.routes) {
        route.name = ReceiverText(route.name);
        route.comment = ReceiverText(route.comment);
        for (GpxPoint &point : route.points)
            prepare(point);
    }
}

} // namespace halvex
