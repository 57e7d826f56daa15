#include "receiver/detect.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <nlohmann/json.hpp>

#include "receiver/heard.h"
#include "receiver/linelisten.h"
#include "receiver/rendezvous.h"

namespace halvex {

namespace {

std::optional<Product> AskProduct(const std::string &device, int baud, double seconds)
{
    Begin();
    PortSession *session = OpenCommPort(device.c_str(), baud);
    if (!session)
        return std::nullopt;
    HalvexProductCallback callback = OnProduct;
    std::optional<Product> product;
    if (HalvexGetProductInfoInit(session, &callback) && Await(seconds)) {
        std::lock_guard<std::mutex> hold(rendezvous.lock);
        if (rendezvous.status == HalvexProductIdentified)
            product = rendezvous.product;
    }
    CloseCommPort(session);
    return product;
}

std::string Join(const std::vector<std::string> &items, const std::string &between, const std::string &last)
{
    std::string out;
    for (std::size_t i = 0; i < items.size(); ++i)
        out += (i == 0 ? "" : i + 1 == items.size() ? last : between) + items[i];
    return out;
}

struct AtSpeed {
    int baud;
    Heard heard;
};

void Merge(Heard &into, const Heard &more)
{
    into.bytes += more.bytes;
    into.sentences += more.sentences;
    into.frames += more.frames;
    into.textLines += more.textLines;
    for (const std::string &kind : more.kinds)
        if (std::find(into.kinds.begin(), into.kinds.end(), kind) == into.kinds.end())
            into.kinds.push_back(kind);
}

} // namespace

Detection Detect(const std::string &port, const DetectOptions &options)
{
    auto started = std::chrono::steady_clock::now();
    Detection found;
    found.port = port;
    std::vector<int> speeds = options.speeds.empty() ? std::vector<int>{4800, 9600, 38400, 19200, 115200, 57600}
                                                     : options.speeds;
    std::vector<AtSpeed> heard;
    for (int baud : speeds) {
        double seconds = options.secondsEach > 0 ? options.secondsEach : baud == 4800 || baud == 9600 ? 2.0 : 1.0;
        AtSpeed at{baud, Classify(Listen(port, baud, seconds))};
        if (at.heard.sentences) {
            // At one sentence a second a cycle of kinds takes a while.
            Merge(at.heard, Classify(Listen(port, baud, 3.0)));
            heard.push_back(at);
            break;
        }
        heard.push_back(at);
    }
    auto most = [&](int Heard::*count) {
        const AtSpeed *best = nullptr;
        for (const AtSpeed &at : heard)
            if (at.heard.*count > 0 && (!best || at.heard.*count > best->heard.*count))
                best = &at;
        return best;
    };
    const AtSpeed *nmea = most(&Heard::sentences);
    const AtSpeed *text = most(&Heard::textLines);
    bool noise = std::any_of(heard.begin(), heard.end(), [](const AtSpeed &at) { return at.heard.bytes && !at.heard.frames; });
    if (!nmea && !text && options.askProduct && !(options.careful && noise)) {
        // Where frames were heard first, then at the binary protocol's speed.
        std::vector<int> ask;
        for (const AtSpeed &at : heard)
            if (at.heard.frames && !options.careful)
                ask.push_back(at.baud);
        if (std::find(ask.begin(), ask.end(), 9600) == ask.end())
            ask.push_back(9600);
        for (int baud : ask) {
            // 4 s: the library asks again after 3 s, which a receiver that
            // missed the first request answers.
            if ((found.product = AskProduct(port, baud, 4.0))) {
                found.mode = "binary";
                found.baud = baud;
                break;
            }
        }
    }
    if (!found.product) {
        const AtSpeed *frames = most(&Heard::frames);
        bool anyBytes = std::any_of(heard.begin(), heard.end(), [](const AtSpeed &at) { return at.heard.bytes > 0; });
        if (nmea) {
            found.mode = "nmea";
            found.baud = nmea->baud;
            found.sentences = nmea->heard.kinds;
        } else if (frames) {
            found.mode = "binary";
            found.baud = frames->baud;
        } else if (text) {
            found.mode = "text";
            found.baud = text->baud;
        } else {
            found.mode = anyBytes ? "noise" : "silent";
            for (const AtSpeed &at : heard)
                if (at.heard.bytes)
                    found.noisy.push_back(at.baud);
            found.everySpeed = found.noisy.size() == heard.size();
        }
    }
    found.seconds = static_cast<int>(std::lround(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count()));
    return found;
}

std::string Detection::Sentence() const
{
    std::string at = " at " + std::to_string(baud) + " baud";
    if (mode == "binary" && product)
        return "binary link" + at + ": product " + std::to_string(product->id) + ", " + product->description;
    if (mode == "binary")
        return "binary frames" + at + ", but no answer to the product request";
    if (mode == "nmea")
        return "NMEA 0183" + at + " (" + Join(sentences, ", ", ", ") +
               "): the receiver's interface is set to NMEA; for transfers set it to its binary format, or use "
               "`halvex position --nmea --baud " + std::to_string(baud) + "`";
    if (mode == "text")
        return "text" + at + " that is not NMEA: the receiver's interface may be set to a plain-text output";
    if (mode == "noise" && everySpeed)
        return "bytes at every speed but no sentence or frame: a wrong speed beyond 115200, line noise, or a "
               "cable that inverts the signal levels";
    if (mode == "noise") {
        std::vector<std::string> speeds;
        for (int speed : noisy)
            speeds.push_back(std::to_string(speed));
        return "bytes at " + Join(speeds, ", ", " and ") +
               " baud but no sentence or frame: a wrong speed, line noise, or a cable that inverts the signal levels";
    }
    return "nothing at all in " + std::to_string(seconds) +
           " s: is the receiver on, connected with a data cable, and its interface set to send?";
}

std::string Detection::Json() const
{
    nlohmann::json out = {{"port", port}, {"mode", mode}, {"baud", baud ? nlohmann::json(baud) : nlohmann::json(nullptr)}};
    out["product"] = product ? nlohmann::json{{"id", product->id},
                                              {"software_version", product->version},
                                              {"description", product->description}}
                             : nlohmann::json(nullptr);
    out["sentences"] = sentences;
    out["sentence"] = Sentence();
    return out.dump();
}

} // namespace halvex
