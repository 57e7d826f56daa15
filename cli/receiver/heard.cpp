#include "receiver/heard.h"

#include <algorithm>
#include <cstdlib>

namespace halvex {

namespace {

constexpr unsigned char kDle = 0x10, kEtx = 0x03;

bool SentenceChecksumGood(const std::string &line)
{
    std::size_t star = line.find('*');
    if (line.size() < 6 || line[0] != '$' || star == std::string::npos || star + 3 > line.size())
        return false;
    unsigned sum = 0;
    for (std::size_t i = 1; i < star; ++i)
        sum ^= static_cast<unsigned char>(line[i]);
    char *end = nullptr;
    std::string given = line.substr(star + 1, 2);
    unsigned long value = std::strtoul(given.c_str(), &end, 16);
    return end == given.c_str() + 2 && value == sum;
}

// GGA of $GPGGA; a proprietary sentence ($P...) by its whole address.
std::string SentenceKind(const std::string &line)
{
    std::string address = line.substr(1, line.find_first_of(",*") - 1);
    return address.size() > 2 && address[0] != 'P' ? address.substr(2) : address;
}

bool PrintableLine(const std::string &line)
{
    return line.size() >= 3 && std::all_of(line.begin(), line.end(), [](char c) {
               return (c >= 0x20 && c < 0x7F) || c == '\t';
           });
}

// Binary frames with good checksums: DLE, id, size, data, checksum, DLE,
// ETX, a DLE in size, data or checksum sent twice.
int CountFrames(const std::string &bytes)
{
    int frames = 0;
    for (std::size_t start = bytes.find(static_cast<char>(kDle)); start != std::string::npos;
         start = bytes.find(static_cast<char>(kDle), start + 1)) {
        std::vector<unsigned char> body; // id, size, data, checksum
        std::size_t i = start + 1;
        bool ended = false;
        while (i < bytes.size() && body.size() < 260) {
            unsigned char c = static_cast<unsigned char>(bytes[i]);
            if (c == kDle && !body.empty()) {
                if (i + 1 < bytes.size() && static_cast<unsigned char>(bytes[i + 1]) == kDle) {
                    body.push_back(kDle);
                    i += 2;
                    continue;
                }
                ended = i + 1 < bytes.size() && static_cast<unsigned char>(bytes[i + 1]) == kEtx;
                break;
            }
            body.push_back(c);
            ++i;
        }
        if (!ended || body.size() < 3 || body[1] != body.size() - 3 || body[0] == kDle)
            continue;
        unsigned sum = 0;
        for (unsigned char c : body)
            sum += c;
        if ((sum & 0xFF) == 0) {
            frames++;
            start = i; // past its end
        }
    }
    return frames;
}

} // namespace

Heard Classify(const std::string &bytes)
{
    Heard heard;
    heard.bytes = bytes.size();
    heard.frames = CountFrames(bytes);
    std::size_t from = 0;
    while (from < bytes.size()) {
        std::size_t end = bytes.find('\n', from);
        if (end == std::string::npos)
            break; // a line not ended yet is judged with the next bytes
        std::string line = bytes.substr(from, end - from);
        from = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::size_t dollar = line.find('$');
        if (dollar != std::string::npos && SentenceChecksumGood(line.substr(dollar))) {
            heard.sentences++;
            std::string kind = SentenceKind(line.substr(dollar));
            if (std::find(heard.kinds.begin(), heard.kinds.end(), kind) == heard.kinds.end())
                heard.kinds.push_back(kind);
        } else if (dollar == std::string::npos && PrintableLine(line)) {
            heard.textLines++;
        }
    }
    return heard;
}

} // namespace halvex
