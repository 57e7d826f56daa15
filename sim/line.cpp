// The receiver's side of the line: what it says and how fast the line
// carries it.
#include "receiver.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>

#include "path.h"
#include "speed.h"

namespace halvexsim {

void Receiver::CountSent(ssize_t bytes)
{
    if (bytes <= 0)
        return;
    std::lock_guard<std::mutex> hold(lock_);
    stats_.bytesSent += static_cast<std::uint64_t>(bytes);
}


void Receiver::Talk(long long now)
{
    const NmeaConfig &n = config_.nmea;
    if (!n.enabled || fd_ < 0 || now < silentUntil_)
        return;
    if (n.live) {
        // One epoch at each whole second of UTC, stamped with it.
        if (!nmeaClock_.Started())
            nmeaClock_.Start(now);
        nextSentenceAt_ = nmeaClock_.DueAtMs();
        if (!nmeaClock_.Due(now))
            return;
        double second = nmeaClock_.Take(now);
        for (const std::string &sentence :
             EpochSentences(second - DateLag(), PathAt(second, config_.pvt.latitude, config_.pvt.longitude))) {
            output_.insert(output_.end(), sentence.begin(), sentence.end());
            std::lock_guard<std::mutex> hold(lock_);
            sentences_++;
        }
        nextSentenceAt_ = nmeaClock_.DueAtMs();
        return;
    }
    // Unpaced, keep the line busy; paced, one sentence at each period.
    while (output_.size() < kTalkAhead && now >= nextSentenceAt_) {
        std::uint64_t i;
        {
            std::lock_guard<std::mutex> hold(lock_);
            if (n.count && sentences_ >= n.count)
                return;
            i = sentences_++;
        }
        std::string sentence = n.text             ? TextLine(i)
                               : n.replay.empty() ? GeneratedSentence(i, config_.weekRollovers * kRolloverDays)
                                                  : n.replay[i % n.replay.size()];
        output_.insert(output_.end(), sentence.begin(), sentence.end());
        if (n.perSecond > 0)
            nextSentenceAt_ = now + static_cast<long long>(1000.0 / n.perSecond);
    }
}

unsigned Receiver::MismatchedHostBaud() const
{
    termios settings{};
    if (!config_.lineBaud || slaveFd_ < 0 || tcgetattr(slaveFd_, &settings) != 0)
        return 0;
    unsigned host = BaudOf(cfgetospeed(&settings));
    return host == config_.lineBaud ? 0 : host ? host : 1;
}

void Receiver::Mishear()
{
    unsigned host = MismatchedHostBaud();
    if (!host || misheard_ >= output_.size())
        return;
    Bytes heard = Misheard(output_.data() + misheard_, output_.size() - misheard_, host, config_.lineBaud, misheardAt_);
    misheardAt_ += output_.size() - misheard_;
    output_.resize(misheard_);
    output_.insert(output_.end(), heard.begin(), heard.end());
    misheard_ = output_.size();
}

void Receiver::Consume(std::size_t sent)
{
    output_.erase(output_.begin(), output_.begin() + static_cast<long>(sent));
    misheard_ -= std::min(misheard_, sent);
}

void Receiver::Flush()
{
    Mishear();
    if (fd_ >= 0 && config_.baud > 0) {
        // Bytes reach the host once the line has carried them; a pty with
        // no room keeps what arrived for the next pass.
        long long nowUs = PacedLine::NowUs();
        // Bytes that have arrived make room for more, and a line catching up
        // after a late wake-up carries those at once too: output never waits
        // with nothing in flight to wake us.
        for (;;) {
            std::vector<std::uint8_t> arrived = sending_.Arrived(nowUs);
            arrivedOut_.insert(arrivedOut_.end(), arrived.begin(), arrived.end());
            if (output_.empty() || sending_.Room() == 0)
                break;
            std::size_t n = std::min(output_.size(), sending_.Room());
            sending_.Put(nowUs, output_.data(), n, sendWaited_);
            sendWaited_ = true;
            Consume(n);
        }
        ssize_t sent = arrivedOut_.empty() ? 0 : write(fd_, arrivedOut_.data(), arrivedOut_.size());
        CountSent(sent);
        if (sent > 0)
            arrivedOut_.erase(arrivedOut_.begin(), arrivedOut_.begin() + sent);
        sendWaited_ = !output_.empty(); // what is left waits for room
        return;
    }
    while (fd_ >= 0 && !output_.empty() && NowMs() >= nextWriteAt_) {
        std::size_t n = output_.size();
        if (config_.faults.chunkSize > 0)
            n = std::min(n, static_cast<std::size_t>(config_.faults.chunkSize));
        ssize_t sent = write(fd_, output_.data(), n);
        CountSent(sent);
        if (sent <= 0)
            return; // the line is full: poll says when there is room
        Consume(static_cast<std::size_t>(sent));
        if (config_.faults.chunkSize > 0)
            nextWriteAt_ = NowMs() + 1; // let each piece arrive on its own
    }
}

} // namespace halvexsim
