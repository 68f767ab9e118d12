// The mail mix: half of the bytes in mbox files, a third in Outlook Express
// folders, the rest in single .eml messages. A folder holds 2 to 48 MiB of
// messages (at most an eighth of the mix, so that a small mix has folders
// of every kind); seven messages in ten carry one to three attachments of 20 to
// 200 KB, base64-encoded, the others only text.
#include <algorithm>
#include <string>
#include <vector>

#include "bench/inside.h"
#include "bench/inside_content.h"
#include "tests/support/mail_samples.h"

namespace inside {

namespace {

constexpr uint32_t Mebibyte = 1u << 20;

enum Folder { Mbox, Dbx, Eml, FolderKinds };
// Parts of the bytes, in percent.
const uint32_t Share[FolderKinds] = {50, 35, 15};

std::string AttachmentHeader(const std::string& type, const std::string& name) {
    return "Content-Type: " + type + ";\r\n\tname=\"" + name + "\"\r\nContent-Transfer-Encoding: base64\r\n" +
           "Content-Disposition: attachment;\r\n\tfilename=\"" + name + "\"\r\n\r\n";
}

class MailWriter {
public:
    explicit MailWriter(uint32_t seed)
        : seed_(seed), rng_(synth::SubSeed(seed, 1)), pool_(synth::SubSeed(seed, 2), 24, 20000, 200000, false, true) {}

    // One message with its text and attachments, CR LF line breaks.
    std::string Message() {
        static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                             "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
        synth::MailHeader header;
        std::string subject = WordText(rng_, 30);
        header.subject = subject.substr(0, subject.find('\r'));
        header.date = "Sun, " + std::to_string(rng_.Between(1, 28)) + " " + months[rng_.Below(12)] + " 2002 " +
                      std::to_string(rng_.Between(10, 23)) + ":" + std::to_string(rng_.Between(10, 59)) +
                      ":30 +0200";
        header.from = "user" + std::to_string(rng_.Below(500)) + "@example.com";
        messages += 1;
        const std::string body = synth::TextPart("text/plain", WordText(rng_, rng_.Between(300, 6000)));
        const uint32_t pick = rng_.Below(10);
        if (pick < 3) return synth::MailMessage(header, body);
        const uint32_t count = pick < 8 ? 1 : pick < 9 ? 2 : 3;
        std::vector<std::string> parts = {body};
        for (uint32_t k = 0; k < count; ++k) parts.push_back(Attachment());
        return synth::MailMessage(header, synth::MultipartPart("mixed", "----=_NextPart_000_" +
                                                                            std::to_string(messages), parts));
    }

    uint32_t attachments = 0;
    uint32_t infected = 0;
    uint32_t messages = 0;

private:
    std::string Attachment() {
        attachments += 1;
        if (attachments % InfectedEvery == InfectedEvery / 2) {
            const synth::Sample worm = PlantedWorm(infected, seed_);
            infected += 1;
            // As the worm sent itself: a sound with a program's name.
            const std::string name = "juego" + std::to_string(attachments) + ".exe";
            return AttachmentHeader("audio/x-wav", name) + synth::Base64Lines(worm.bytes);
        }
        const Pooled& item = pool_.Draw(rng_);
        const std::string number = std::to_string(attachments);
        switch (item.kind) {
            case Kind::Program:
                return AttachmentHeader("application/octet-stream", "setup" + number + ".exe") + item.base64;
            case Kind::Text:
                return AttachmentHeader("application/msword", "informe" + number + ".doc") + item.base64;
            case Kind::Random:
                break;
        }
        return AttachmentHeader("image/jpeg", "foto" + number + ".jpg") + item.base64;
    }

    uint32_t seed_;
    synth::Rng rng_;
    Pool pool_;
};

std::string Numbered(const char* stem, uint32_t n, const char* extension) {
    std::string digits = std::to_string(n);
    while (digits.size() < 4) digits.insert(digits.begin(), '0');
    return stem + digits + extension;
}

}  // namespace

bool WriteMailMix(const std::string& dir, uint64_t budget, uint32_t seed, Ledger& ledger) {
    MailWriter writer(seed);
    synth::Rng rng(synth::SubSeed(seed, 3));
    uint64_t written[FolderKinds] = {};
    uint32_t files[FolderKinds] = {};
    while (ledger.bytes < budget) {
        // The kind furthest behind its share comes next.
        int kind = Mbox;
        for (int k = Mbox + 1; k < FolderKinds; ++k) {
            if (written[k] * Share[kind] < written[kind] * Share[k]) kind = k;
        }
        const uint32_t attachmentsBefore = writer.attachments;
        const uint32_t infectedBefore = writer.infected;
        std::string path;
        synth::Bytes bytes;
        if (kind == Eml) {
            const std::string message = writer.Message();
            bytes.assign(message.begin(), message.end());
            path = dir + "/eml/" + Numbered("d", files[kind] / 100, "/") + Numbered("mensaje", files[kind], ".eml");
        } else {
            const uint64_t left = budget - ledger.bytes;
            // Small mixes still get folders of every kind.
            const uint64_t drawn = uint64_t{rng.Between(2, 48)} * Mebibyte;
            const uint64_t cap = budget / 8 > Mebibyte ? budget / 8 : Mebibyte;
            const uint64_t target = std::min({drawn, left, cap});
            std::vector<std::string> messages;
            uint64_t size = 0;
            while (size < target) {
                messages.push_back(writer.Message());
                size += messages.back().size();
            }
            if (kind == Mbox) {
                bytes = synth::MakeMbox(messages, rng.Below(3) == 0);
                path = dir + "/mbox/" + Numbered("carpeta", files[kind], ".mbx");
            } else {
                // An offset kept in the index itself has 24 bits: Outlook
                // Express keeps larger ones in the info's data, and so must
                // any folder past 16 MiB here.
                synth::DbxOptions options;
                options.firstBlockInData = size >= (15u << 20) || rng.Below(2) == 0;
                bytes = synth::MakeDbx(messages, options);
                path = dir + "/oe/" + Numbered("Bandeja", files[kind], ".dbx");
            }
        }
        if (!WriteFile(path, bytes.data(), bytes.size())) return false;
        written[kind] += bytes.size();
        files[kind] += 1;
        ledger.Add(path, bytes.size(), writer.attachments - attachmentsBefore, writer.infected - infectedBefore);
    }
    return true;
}

}  // namespace inside
