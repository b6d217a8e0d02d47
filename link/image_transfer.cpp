// image_transfer.cpp - the image transfer sequence, PC side.
//
// How many sectors go out: the drive's track count times the image's
// sectors per cylinder.  The Einstein places the sectors it receives by the
// image's sectors per cylinder (the second geometry byte), so this is what
// covers the drive's tracks; counting in the drive's own sides instead
// would send a one-sided image to a two-sided drive onto tracks that do not
// exist.  When image and drive have the same sides the two counts agree.
// Image sectors run out into blank sectors (two bytes each on the line);
// an image larger than the drive is cut at the drive's size.
//
// The image is fitted to the drive the Einstein reports, however its
// flags byte came: unasked after the format, again with a resume's answer
// (when the first was lost, before any batch goes out) or with a report.
//
// Recovery: when a batch does not get across (the Einstein stopped
// answering, timed out, or the exchange lost step), TOBRIN falls silent
// until the Einstein is back in its command loop, has it resume writing at
// the batch's first sector ("W" with the position, acknowledged with "W"
// and the drive flags) and sends the batch again from the copy it kept.
// A batch that takes long to write is a bad area, not a fault: TOBRIN asks
// whether the Einstein still works and waits as long as it says so.
// Nothing of this happens, and no byte of it goes on the line, in a run
// without faults.
#include "link/image_transfer.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "image/default_image.h"
#include "image/disc_image.h"
#include "image/dsk_codec.h"
#include "link/block_transfer.h"
#include "link/fast_line.h"
#include "link/link_limits.h"
#include "link/recovery.h"
#include "link/sector_lz.h"
#include "link/serial_port.h"
#include "report/halt_report.h"


static const int LABEL_SIZE = 80;

using Clock = std::chrono::steady_clock;

// One transfer: the image, both geometries, the statuses so far, and the
// batch being sent.
struct Transfer {
    DiscImage* image;
    int image_tracks;            // the image's tracks, as far as the drive takes them
    int sectors_per_cylinder;    // the image's sides x 10, as far as the drive takes them
    int image_tracks_whole;      // the image's own geometry, before the fit to the drive
    int image_spc_whole;
    bool fitted;                 // the image has been fitted to a drive (and said so)
    bool geometry_sent;          // a batch has gone out with sectors_per_cylinder: it stays
    std::uint8_t flags;          // the drive flags byte
    int total;                   // sectors to send: drive tracks x sectors_per_cylinder
    std::vector<std::uint8_t> status;  // one status byte per sector sent
    // The batch being sent, as fetched from the image, so that a resumed
    // batch goes again unchanged (and the reader's warnings come once).
    std::vector<std::uint8_t> batch;
    int batch_sectors;           // sectors a batch: BATCH_SECTORS, or FAST_BATCH_SECTORS (-fast)
    int fetched;                 // sectors of the batch fetched so far
    // -fast: the next batch, fetched ahead, whose first blocks go out as a
    // stream while this batch is written (their copies reach back into it).
    std::vector<std::uint8_t> next_batch;
    int next_first;              // its first sector, or -1
    int following;               // the first sector of the batch after this one, in the order they go (total: none)
    int sectors_before;          // sectors of the batches that went before this one
    int next_fetched;            // its sectors fetched so far
    std::vector<std::uint8_t> stream;  // the stream going out meanwhile ...
    std::size_t stream_sent;     // ... the bytes of it written so far ...
    bool stream_granted_only;    // ... which go only as the Einstein grants them (the next
                                 // batch's, while it works), or at once (a follow)
    std::size_t granted;         // bytes of the next batch's stream the Einstein has granted
    int streamed_first;          // ... and the batch (first sector) whose
    int streamed_blocks;         // first blocks went out whole in the last one
    int stream_room;             // the most the next stream may hold (bytes) ...
    int stream_most;             // ... and the Einstein's room for one
    int image_track, index;      // the image position of the next sector to fetch
    int recoveries;              // recoveries in the whole transfer
    double recovery_seconds;     // and the time they took
    bool verify;                 // every sector is read back on the Einstein
    int mismatch_resends;        // times the batch went again for a verify mismatch
    bool builtin;                // the built-in boot disk is sent
    bool packed;                 // the sectors go compressed (-fast)
    ProgramState* program;       // the second stage: verified and compressed batches are its
    std::uint64_t sector_bytes;  // -fast: the bytes of the sectors sent so far (each once) ...
    std::uint64_t packed_bytes;  // ... and of their compressed blocks
    int label_width;             // the longest progress label written so far
    int sides_heard;             // -fast: the Einstein's notices since the batch byte (one at each side it begins)
    int sectors_shown;           // -fast: the most sectors the progress line has shown written
    std::chrono::steady_clock::time_point started;  // when the first batch began
};

// -fast: the sectors written so far - the batches done, and the track
// sides of the one at work that the Einstein has gone past (it tells as it
// begins each).
// A resumed batch's sectors were written all the same: the count never
// falls.
static int fast_sectors_done(Transfer* t)
{
    int done = t->sectors_before + std::clamp((t->sides_heard - 1) * SECTORS_PER_SIDE, 0, t->batch_sectors);
    t->sectors_shown = std::max(t->sectors_shown, std::min(done, t->total));
    return t->sectors_shown;
}

// -fast's progress: "WRITE 0: 120 of 400 sectors (30%)  5.2 KB/s, 0:24
// left" - the sectors written (the batches done, and the track sides of
// the one at work that the Einstein has gone past), the image's bytes
// written a second since the first batch, and the time left at that pace.
static std::string fast_progress(const Transfer* t, int done)
{
    done = std::min(done, t->total);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t->started).count();
    char text[96];
    int written = std::snprintf(text, sizeof text, "WRITE 0: %d of %d sectors (%d%%)", done, t->total,
                                t->total > 0 ? done * 100 / t->total : 0);
    if (done == 0 || seconds <= 0) {
        std::snprintf(text + written, sizeof text - written, "  --- KB/s, --:-- left");
    } else {
        int left = static_cast<int>(seconds / done * (t->total - done) + 0.5);
        std::snprintf(text + written, sizeof text - written, "  %.1f KB/s, %d:%02d left",
                      done * static_cast<double>(SECTOR_SIZE) / 1024 / seconds, left / 60, left % 60);
    }
    return text;
}

// -fast: the progress line again as the Einstein's work goes on, with
// `done` sectors written.
static void show_fast_progress(Transfer* t, int done)
{
    std::string text = fast_progress(t, done);
    int width = static_cast<int>(text.size());
    std::printf("\r - %s%*s", text.c_str(), std::max(t->label_width - width, 0), "");
    t->label_width = std::max(t->label_width, width);
    std::fflush(stdout);
}

// Written (and, with -verify, shown right, at once or after rewrites)?
static bool sector_written(std::uint8_t status)
{
    return status == 0 || (status & STATUS_VERIFIED_AFTER_REWRITE) != 0;
}

void print_sector_failures(const std::vector<std::uint8_t>& status, int spc)
{
    int tracks = static_cast<int>(status.size()) / spc;
    for (int track = 0; track < tracks; ++track)
        for (int first_id = 0; first_id < spc; first_id += SECTORS_PER_SIDE) {
            const std::uint8_t* side = &status[static_cast<std::size_t>(track * spc + first_id)];
            std::vector<const char*> causes;  // in the order they first appear
            for (int k = 0; k < SECTORS_PER_SIDE; ++k) {
                if (sector_written(side[k])) continue;
                const char* cause = sector_failure_text(side[k]);
                bool known = false;
                for (const char* c : causes) known = known || std::strcmp(c, cause) == 0;
                if (!known) causes.push_back(cause);
            }
            for (const char* cause : causes) {
                auto fails = [&](int k) {
                    return k < SECTORS_PER_SIDE && !sector_written(side[k]) &&
                           std::strcmp(sector_failure_text(side[k]), cause) == 0;
                };
                std::string ids;
                int count = 0;
                for (int k = 0; k < SECTORS_PER_SIDE; ++k) {
                    if (!fails(k)) continue;
                    int from = k;
                    while (fails(k + 1)) ++k;
                    char part[32];
                    if (from == k) std::snprintf(part, sizeof part, "%s%02d", ids.empty() ? "" : ", ", first_id + from);
                    else std::snprintf(part, sizeof part, "%s%02d-%02d", ids.empty() ? "" : ", ", first_id + from, first_id + k);
                    ids += part;
                    count += k - from + 1;
                }
                std::printf("  + Track %02d side %d: sector%s %s: %s\n", track, first_id / SECTORS_PER_SIDE,
                            count == 1 ? "" : "s", ids.c_str(), cause);
            }
        }
}

// The most tracks an Einstein drive has, and the geometry byte takes.
static const int MAX_TRACKS = 80;

static int drive_tracks(std::uint8_t flags)
{
    return (flags & DRIVE_80_TRACKS) ? 80 : 40;
}

// An image larger than the drive is written as far as the drive goes: the
// tracks (and the side) it has no room for are left out, and said so once.
// The geometry byte is the image's tracks, but never more than the Einstein
// takes (80).  Once a batch has gone out its sectors per cylinder stay (the
// Einstein placed its sectors by them).
static void fit_to_drive(Transfer* t)
{
    int tracks = drive_tracks(t->flags);
    bool one_side = (t->flags & DRIVE_TWO_SIDES) == 0;
    int left_out = t->image_tracks_whole > tracks ? t->image_tracks_whole - tracks : 0;
    bool side_left_out = one_side && t->image_spc_whole == 2 * SECTORS_PER_SIDE;
    t->image_tracks = t->image_tracks_whole > MAX_TRACKS ? MAX_TRACKS : t->image_tracks_whole;
    if (!t->geometry_sent)
        t->sectors_per_cylinder = side_left_out ? SECTORS_PER_SIDE : t->image_spc_whole;  // each cylinder's side 0 only
    if (t->fitted) return;
    t->fitted = true;
    if (left_out > 0 && side_left_out)
        std::printf("  + The image is larger than the drive (%d tracks, one side): %d track%s and side 1 left out\n",
                    tracks, left_out, left_out == 1 ? "" : "s");
    else if (left_out > 0)
        std::printf("  + The image is larger than the drive (%d tracks): %d track%s left out\n", tracks, left_out,
                    left_out == 1 ? "" : "s");
    else if (side_left_out)
        std::printf("  + The image is larger than the drive (one side): side 1 left out\n");
    std::fflush(stdout);
}

// Takes the drive flags: the image is fitted to the drive, and the number
// of sectors to send follows.  The status table only grows (within the
// room send_image reserved for the largest drive): a batch being received
// may lie past the end of a drive that the new flags make smaller (its
// bytes are not counted at the end).
static void take_flags(Transfer* t, std::uint8_t flags)
{
    t->flags = flags;
    fit_to_drive(t);
    t->total = drive_tracks(flags) * t->sectors_per_cylinder;
    if (t->status.size() < static_cast<std::size_t>(t->total)) t->status.resize(static_cast<std::size_t>(t->total));
}

// A failure after the progress line started: end that line first.
static int transfer_failed(const char* message, const char* parameter)
{
    std::printf("\n");
    halt_report(message, parameter, HALT_EINSTEIN);
    return 0;
}

// The next sector of the image in sending order, into `sector`.
static void fetch_sector(Transfer* t, std::uint8_t* sector)
{
    const std::uint8_t* data;
    if (t->image_track < t->image_tracks) {
        if (t->index == 0) image_load_track(t->image);
        data = image_find_sector(t->image, t->image_track, t->index);
    } else {
        data = blank_sector();
    }
    std::memcpy(sector, data, SECTOR_SIZE);
    if (t->builtin && t->image_track == 0 && t->index == 0) default_image_set_drive_type(sector, t->flags);
    if (++t->index == t->sectors_per_cylinder) {
        t->index = 0;
        ++t->image_track;
    }
}

// The image position of the drive's sector `n`: the next fetch reads it.
static void seek_sector(Transfer* t, int n)
{
    t->image_track = n / t->sectors_per_cylinder;
    t->index = n % t->sectors_per_cylinder;
    t->image->next_cylinder = t->image_track;
    if (t->index != 0 && t->image_track < t->image_tracks) image_load_track(t->image);
}

// -fast: a byte from the Einstein while it works on a batch that grants
// more of the next batch's stream (target/grant.asm) is added to what it
// granted; true when `byte` was one.
static bool take_grant(Transfer* t, std::uint8_t byte)
{
    if (!t->packed || byte < GRANT_UNITS) return false;
    if (byte == GRANT_REST) t->granted = SIZE_MAX;
    else if (t->granted != SIZE_MAX) t->granted += static_cast<std::size_t>(byte - GRANT_UNITS) * GRANT_UNIT;
    return true;
}

// The Einstein's next byte within `seconds`; in -fast, the stream goes out
// meanwhile, as far as the Einstein granted it (or whole, a follow, which
// it takes as it comes), and its line time is added to the wait.  The
// port is kept fed with at most STREAM_QUEUE bytes waiting in it, so that
// no write blocks while the Einstein holds the line off.
static const int STREAM_QUEUE = 512;
static const int STREAM_ROOM_LEAST = 1024;  // a stream holds two blocks at least
static const double STREAM_POLL_S = 0.005;
static bool recv_streaming(Transfer* t, std::uint8_t* byte, double seconds)
{
    if (t->stream_sent < t->stream.size())
        seconds += link_answer_s(static_cast<int>(t->stream.size() - t->stream_sent));
    Clock::time_point end = Clock::now() + std::chrono::microseconds(static_cast<long long>(seconds * 1e6));
    for (;;) {
        std::size_t may = t->stream_granted_only ? std::min(t->stream.size(), t->granted) : t->stream.size();
        while (t->stream_sent < may && serial_output_pending() < STREAM_QUEUE) {
            if (!send_byte(t->stream[t->stream_sent])) return false;
            ++t->stream_sent;
        }
        double left = std::chrono::duration<double>(end - Clock::now()).count();
        bool got = recv_byte_within(byte, t->stream_sent < may ? STREAM_POLL_S : std::max(left, 0.0));
        if (got && take_grant(t, *byte)) continue;
        if (got) return true;
        if (serial_port.failed || Clock::now() >= end) return false;
    }
}

// The batch's status block.  The Einstein writes the whole batch first.
// When that takes longer than a healthy disk needs, TOBRIN says so and asks
// whether it still works; from then on (`asked`) the Einstein tells after
// each of its sector calls, and TOBRIN waits as long as it does - a bad
// area takes the monitor ten tries a sector - but no longer than one call
// at its worst without a word (an Einstein that was reset or switched off).
static BlockFault receive_status(Transfer* t, int first, bool asked)
{
    std::uint8_t* status = &t->status[static_cast<std::size_t>(first)];
    double wait = asked       ? SECTOR_CALL_S
                  : t->packed ? BATCH_LAID_HEALTHY_S
                  : t->verify ? BATCH_VERIFY_HEALTHY_S
                              : BATCH_WRITE_HEALTHY_S;
    for (;;) {
        std::uint8_t marker = 0;
        if (!recv_streaming(t, &marker, wait)) {
            // -fast: the Einstein tells unasked (a question would go
            // behind the stream, where it is taken for part of it).
            if (serial_port.failed || asked || t->packed) return silence_fault();
            std::printf("\n  + The Einstein is still writing this batch (a sector is being tried again; its screen "
                        "shows which): waiting while it works\n");
            std::fflush(stdout);
            if (!send_byte(WORK_QUESTION)) return BLOCK_LINK_DEAD;
            asked = true;
            wait = SECTOR_CALL_S;
            continue;
        }
        if (marker != WORKING_NOTICE) return receive_block_marked(marker, status, t->batch_sectors);
        if (t->packed) {  // at each side it begins
            ++t->sides_heard;
            show_fast_progress(t, fast_sectors_done(t));
        }
        asked = true;
        wait = SECTOR_CALL_S;
    }
}

// Every sector of the batch failed: that is also what a status block
// damaged on the line looks like, or the batch of a drive whose flags byte
// was damaged (40 tracks read as 80).  Asks the Einstein for its drive
// flags and the status block again and takes what it says now.
static BlockFault report_again(Transfer* t, int first)
{
    if (!send_byte(REPORT_COMMAND)) return BLOCK_LINK_DEAD;
    std::uint8_t flags = 0;
    if (!recv_byte_within(&flags, link_answer_s(1))) return silence_fault();
    BlockFault fault = exchange_block(&t->status[static_cast<std::size_t>(first)], t->batch_sectors, nullptr, TRANSFER_RECEIVE);
    if (fault != BLOCK_OK) return fault;
    // The drive is smaller than the first flags byte said: the batches
    // past its end were never meant to be written.
    take_flags(t, flags);
    return BLOCK_OK;
}

static bool every_sector_failed(const Transfer* t, int first)
{
    for (int k = 0; k < t->batch_sectors; ++k)
        if (sector_written(t->status[static_cast<std::size_t>(first + k)])) return false;
    return true;
}

// -verify: a sector of the batch still read back different after the
// Einstein's rewrites.
static bool mismatch_in_batch(const Transfer* t, int first)
{
    for (int k = 0; k < t->batch_sectors; ++k)
        if (t->status[static_cast<std::size_t>(first + k)] == STATUS_VERIFY_MISMATCH) return true;
    return false;
}

// -verify: the CRC-16 of each sector of the batch, high byte first.
static BlockFault send_batch_crcs(const Transfer* t)
{
    std::uint8_t crcs[2 * BATCH_SECTORS];
    for (int k = 0; k < BATCH_SECTORS; ++k) {
        std::uint16_t crc = dsk::crc16(&t->batch[static_cast<std::size_t>(k) * SECTOR_SIZE], SECTOR_SIZE);
        crcs[2 * k] = static_cast<std::uint8_t>(crc >> 8);
        crcs[2 * k + 1] = static_cast<std::uint8_t>(crc & 0xFF);
    }
    return exchange_block(crcs, sizeof crcs, nullptr, TRANSFER_SEND);
}

// -fast: the block of the batch's sector k (target/packed.asm): its length
// and a check of it (a length that came damaged would put the two ends out
// of step), with LAYABLE_FLAG when the sector holds no F5h-F7h (the Write
// Track may lay it down); its number (with FILLER_FLAG when it is the
// format's filler); the CRC-16 of the sector, which its read back is
// compared with, and the compressed form, which may copy from the batch's
// earlier sectors (neither for the filler: the Einstein lays it down
// itself); and the CRC-16 of all of that, which the Einstein takes on as
// the bytes come.
static_assert(BLANK_BYTE == target_program_image_labels::BLANK_BYTE, "the filler the Einstein lays down");
static std::vector<std::uint8_t> packed_block(const std::vector<std::uint8_t>& batch, int k)
{
    const std::size_t offset = static_cast<std::size_t>(k) * SECTOR_SIZE;
    const std::uint8_t* sector = &batch[offset];
    bool filler = std::memcmp(sector, blank_sector(), SECTOR_SIZE) == 0;
    bool layable = std::none_of(sector, sector + SECTOR_SIZE, [](std::uint8_t b) { return b >= 0xF5 && b <= 0xF7; });
    std::vector<std::uint8_t> form;
    if (!filler) form = lz_compress_sector(batch.data(), offset);
    std::uint8_t number = static_cast<std::uint8_t>(k | (filler ? FILLER_FLAG : 0));
    std::uint16_t crc = dsk::crc16(sector, SECTOR_SIZE);
    std::size_t length = (filler ? 1 : PACKED_HEADER - 3 + form.size()) + PACKED_TRAILER;
    std::uint8_t low = static_cast<std::uint8_t>(length & 0xFF);
    std::uint8_t high = static_cast<std::uint8_t>((length >> 8) | (layable ? LAYABLE_FLAG : 0));
    std::vector<std::uint8_t> block = {low, high, static_cast<std::uint8_t>(0xFF - low - high), number};
    if (!filler) {
        block.push_back(static_cast<std::uint8_t>(crc >> 8));
        block.push_back(static_cast<std::uint8_t>(crc & 0xFF));
        block.insert(block.end(), form.begin(), form.end());
    }
    std::uint16_t block_crc = dsk::crc16(block.data(), block.size());
    block.push_back(static_cast<std::uint8_t>(block_crc >> 8));
    block.push_back(static_cast<std::uint8_t>(block_crc & 0xFF));
    return block;
}

// -fast: a stream (target/packed.asm) into t->stream: its header and as
// many blocks as the stream's room takes, from block `from` of the batch
// from sector `next`, whose sectors are in `sectors` as far as `*fetched`
// says (the others are fetched as they are needed); only the header when
// no batch follows.
static void build_stream(Transfer* t, int next, int from, std::vector<std::uint8_t>& sectors, int* fetched)
{
    t->stream.assign(STREAM_HEADER, 0);
    t->stream_sent = 0;
    t->streamed_first = next;
    t->streamed_blocks = from;
    if (next < t->total) {
        for (int k = from; k < t->batch_sectors; ++k) {
            bool first_time = k == *fetched;
            if (first_time) {
                if (k == 0) seek_sector(t, next);
                fetch_sector(t, &sectors[static_cast<std::size_t>(k) * SECTOR_SIZE]);
                ++*fetched;
            }
            std::vector<std::uint8_t> block = packed_block(sectors, k);
            if (first_time) {
                t->sector_bytes += SECTOR_SIZE;
                t->packed_bytes += block.size();
            }
            if (t->stream.size() + block.size() > static_cast<std::size_t>(t->stream_room)) break;
            t->stream.insert(t->stream.end(), block.begin(), block.end());
            ++t->streamed_blocks;
        }
    }
    std::size_t length = t->stream.size() - STREAM_HEADER;
    t->stream[0] = static_cast<std::uint8_t>(length & 0xFF);
    t->stream[1] = static_cast<std::uint8_t>(length >> 8);
    t->stream[2] = static_cast<std::uint8_t>(next / t->sectors_per_cylinder);
    t->stream[3] = static_cast<std::uint8_t>(next % t->sectors_per_cylinder);
    t->stream[4] = static_cast<std::uint8_t>(0xFF - t->stream[0] - t->stream[1] - t->stream[2] - t->stream[3]);
}

// -fast: the Einstein's answer to the batch byte, or to a follow: how many
// of the batch's blocks it has taken, or -1 when the answer came damaged.
// No answer within `wait` (the stream still going out meanwhile) is a
// fault.  The count may be more than went out since the batch byte: the
// Einstein also takes a stream of the batch that came before a resume.
static BlockFault streamed_taken(Transfer* t, int* taken, double wait)
{
    std::uint8_t count = 0, check = 0;
    if (!recv_streaming(t, &count, wait) || !recv_byte_within(&check, link_answer_s(1)))
        return serial_port.failed ? BLOCK_LINK_DEAD : BLOCK_NO_ANSWER;
    *taken = (count ^ check) == 0xFF && count <= t->batch_sectors ? count : -1;
    return BLOCK_OK;
}

// -fast: a stream is taken up to the first block the line damaged, and
// what came after it went for nothing: after a stream cut short the next
// one is half as long, after a whole one twice as long (up to the room),
// so that a noisy line spends little on streams and a clean one fills them.
static void fit_stream_room(Transfer* t, int first, int taken)
{
    if (t->streamed_first != first) return;
    if (taken < t->streamed_blocks) t->stream_room = std::max(t->stream_room / 2, STREAM_ROOM_LEAST);
    else t->stream_room = std::min(t->stream_room * 2, t->stream_most);
}

// The progress line's label for sector `n` (-fast: the sectors written so
// far).  The line is rewritten in place: a shorter label is padded to
// cover the longest one before it.
static void sector_label(Transfer* t, int n, char (&label)[LABEL_SIZE])
{
    int width = t->packed ? std::snprintf(label, sizeof label, "%s", fast_progress(t, fast_sectors_done(t)).c_str())
                          : std::snprintf(label, sizeof label, "WRITE 0: Track %02d Sector %02d",
                                          n / t->sectors_per_cylinder, n % t->sectors_per_cylinder);
    if (width < t->label_width) std::snprintf(label + width, sizeof label - width, "%*s", t->label_width - width, "");
    else t->label_width = width;
}

// -fast: the batch's rest after the batch byte's answer (`taken`), as
// streams from the first block not known taken, up to FOLLOW_STREAMS of
// them while blocks are due (the Einstein counts them as we do: a follow
// costs it no turnaround a block).  A damaged answer is followed by no
// stream: an Einstein that has the whole batch is at work, one that has
// not answers again once the line has been quiet (a follow it waited for
// in vain).  *start: the first block not known taken, the batch's size
// when the Einstein has them all.
static BlockFault send_follows(Transfer* t, int first, int taken, int* start)
{
    BlockFault fault = BLOCK_OK;
    for (int follows_left = FOLLOW_STREAMS; fault == BLOCK_OK;) {
        if (taken >= 0) {
            fit_stream_room(t, first, taken);
            *start = std::max(*start, taken);
        }
        if (*start >= t->batch_sectors || follows_left == 0) break;
        --follows_left;
        if (taken < 0) {
            // Silence, or the notice an Einstein at work sends at each
            // track side (unless it is a count of as many, whole): it
            // works on the whole batch.
            std::uint8_t count = 0, check = 0;
            bool answered = recv_byte_within(&count, FOLLOW_MISSED_S);
            bool checked = answered && !take_grant(t, count) && recv_byte_within(&check, link_answer_s(1));
            if (checked && (count ^ check) == 0xFF && count <= t->batch_sectors) {
                taken = count;
            } else if (!answered || !checked || count == WORKING_NOTICE) {
                *start = t->batch_sectors;  // at work: what it grants meanwhile is kept
                if (checked) take_grant(t, check);
            }
            if (serial_port.failed) fault = BLOCK_LINK_DEAD;
            continue;
        }
        char label[LABEL_SIZE];
        sector_label(t, first + *start, label);
        std::printf("\r - %s", label);
        std::fflush(stdout);
        build_stream(t, first, *start, t->batch, &t->fetched);
        t->stream_granted_only = false;  // it is taken as it comes
        fault = streamed_taken(t, &taken, STREAM_TAKE_S);
        t->stream.clear();
        t->stream_sent = 0;
    }
    t->streamed_first = -1;
    return fault;
}

// Sends one batch from sector `first`, and takes its status block: BLOCK_OK,
// or why not.  *waited_for_status tells that the batch went out whole and
// only its status block did not come.
static BlockFault send_batch(Transfer* t, int first, bool* waited_for_status)
{
    *waited_for_status = false;
    t->geometry_sent = true;
    // A compressed batch names where it begins: the batches may go in
    // another order than the drive's (lead_batch).
    const std::uint8_t place[] = {static_cast<std::uint8_t>(first / t->sectors_per_cylinder),
                                  static_cast<std::uint8_t>(first % t->sectors_per_cylinder)};
    if (t->packed ? !send_checked_command(PACKED_BATCH, place, sizeof place)
                  : !send_byte(t->verify ? VERIFY_BATCH : BATCH_BYTE))
        return BLOCK_LINK_DEAD;
    t->granted = 0;  // the next batch's stream goes as this batch's work grants it
    t->sides_heard = 0;
    char label[LABEL_SIZE];
    int start = 0;
    if (t->packed) {
        int taken = 0;
        BlockFault fault = streamed_taken(t, &taken, STREAM_TAKE_S);
        if (fault == BLOCK_OK) fault = send_follows(t, first, taken, &start);
        if (fault != BLOCK_OK) return fault;
    }
    for (int k = start > 0 ? start - 1 : 0; k < t->batch_sectors; ++k) {
        const int n = first + k;
        std::uint8_t* sector = &t->batch[static_cast<std::size_t>(k) * SECTOR_SIZE];
        bool first_time = k == t->fetched;
        if (first_time) {
            if (k == 0) seek_sector(t, first);
            fetch_sector(t, sector);
            ++t->fetched;
        }
        sector_label(t, n, label);
        if (k < start) {  // the last block the stream brought: its label alone
            std::printf("\r - %s", label);
            std::fflush(stdout);
            continue;
        }
        if (t->packed) {
            std::vector<std::uint8_t> block = packed_block(t->batch, k);
            if (first_time) {
                t->sector_bytes += SECTOR_SIZE;
                t->packed_bytes += block.size();
            }
            BlockFault fault = exchange_block(block.data(), static_cast<int>(block.size()), label, TRANSFER_SEND_UNMARKED);
            if (fault != BLOCK_OK) return fault;
        } else {
            BlockFault fault = exchange_block(sector, SECTOR_SIZE, label, TRANSFER_SEND);
            if (fault != BLOCK_OK) return fault;
        }
    }
    if (t->verify && !t->packed) {
        BlockFault fault = send_batch_crcs(t);
        if (fault != BLOCK_OK) return fault;
    }
    if (t->packed) {
        if (t->next_first != t->following) {
            t->next_first = t->following;
            t->next_fetched = 0;
        }
        build_stream(t, t->following, 0, t->next_batch, &t->next_fetched);
        t->stream_granted_only = true;
    }
    *waited_for_status = true;
    BlockFault fault = receive_status(t, first, false);
    if (t->stream_sent < t->stream.size()) t->streamed_first = -1;  // it did not all go out
    t->stream.clear();
    t->stream_sent = 0;
    if (fault != BLOCK_OK) return fault;
    *waited_for_status = false;
    if (every_sector_failed(t, first)) {
        fault = report_again(t, first);
        if (fault != BLOCK_OK) return fault;
    }
    if (t->verify && t->mismatch_resends < LINK_MISMATCH_RESENDS && mismatch_in_batch(t, first)) {
        ++t->mismatch_resends;
        return BLOCK_VERIFY_MISMATCH;
    }
    return BLOCK_OK;
}

// Has the Einstein resume writing at sector `first` of the drive, with the
// drive flags it sends again (the image is fitted to them).  RESTARTED when
// it took it up; ALREADY_DONE when it was still writing the batch and its
// status block came after all; NOT_TAKEN to try again: no answer, the
// second stage gone (the program restarted: it goes again first next
// time), or a resume that the flags show to have gone with a geometry the
// drive has no room for (the Einstein gives the write up, and the next
// resume has the right one).  *heard tells whether the Einstein sent
// anything at all meanwhile.
static RestartResult resume_einstein(Transfer* t, int first, bool einstein_timed_out, bool* heard)
{
    if (!wait_for_command_loop(einstein_timed_out, heard)) return NOT_TAKEN;
    bool staged = t->verify || t->packed;  // their batches are the second stage's (packed: both parts)
    bool in_place = t->packed ? t->program->stage_two_whole : t->program->stage_two_in_place;
    if (staged && !in_place) {
        if (!resend_stage_two(t->program, t->packed)) return NOT_TAKEN;
        wait_for_quiet_line();
    }
    const int spc = t->sectors_per_cylinder;
    const std::uint8_t where[] = {static_cast<std::uint8_t>(spc), static_cast<std::uint8_t>(t->batch_sectors), static_cast<std::uint8_t>(first / spc),
                                  static_cast<std::uint8_t>(first % spc)};
    if (!send_checked_command(RESUME_COMMAND, where, sizeof where)) return NOT_TAKEN;
    std::uint8_t ack = 0, flags = 0;
    if (!recv_byte_within(&ack, LINK_RESUME_ANSWER_S)) return NOT_TAKEN;
    *heard = true;
    if (ack == WORKING_NOTICE)  // still at the batch: it tells as it works
        return receive_status(t, first, true) == BLOCK_OK ? ALREADY_DONE : NOT_TAKEN;
    if ((ack != RESUME_COMMAND && ack != RESUMED_WITH_STAGE && ack != RESUMED_WITH_FIRST_PART) ||
        !recv_byte_within(&flags, link_answer_s(1)))
        return NOT_TAKEN;
    take_flags(t, flags);
    // What the Einstein still has of the second stage (its program may
    // have restarted): what is missing goes first, next time.
    t->program->stage_two_in_place = ack != RESUME_COMMAND;
    t->program->stage_two_whole = ack == RESUMED_WITH_STAGE;
    if (staged && !(t->packed ? t->program->stage_two_whole : t->program->stage_two_in_place)) return NOT_TAKEN;
    return t->sectors_per_cylinder == spc ? RESTARTED : NOT_TAKEN;
}

// A status block that comes after TOBRIN stopped waiting for it: the
// Einstein was still writing (sectors tried again and again).  Listens for
// a quiet interval; true when the whole status block came after all.
static bool late_status(Transfer* t, int first)
{
    std::uint8_t marker = 0;
    if (!recv_byte_within(&marker, LINK_QUIET_S)) return false;
    if (marker == WORKING_NOTICE) return receive_status(t, first, true) == BLOCK_OK;
    if (marker != FILL_MARKER && marker != FULL_MARKER) return false;
    return receive_block_marked(marker, &t->status[static_cast<std::size_t>(first)], t->batch_sectors) == BLOCK_OK;
}

static const RecoveryTexts WRITE_RECOVERY = {
    "resuming at",
    "Serial link to the Einstein lost",
    "The Einstein stopped answering at track %s and did not take up the write again. It may have been reset or "
    "switched off (its screen shows the monitor's prompt), or it shows TIMEOUT. Check it and the cable, then run "
    "TOBRIN again (with -notrans when it shows \"[ Waiting to proceed\")",
    "The batch from track %s did not get across after five resumes: the Einstein answered, but the checksums kept "
    "disagreeing. The line is too noisy: check the cable (its length, its plugs, the adapter), then run TOBRIN "
    "again (with -notrans when the Einstein shows \"[ Waiting to proceed\")",
    "The batch from track %s did not get across after five resumes: the Einstein answered each time, but bytes "
    "were lost on the line. That is most often an adapter that goes on sending when the Einstein drops RTS (its "
    "CTS), a TTL-level adapter, or a cable without RTS and CTS: check them (the README's cable section), then run "
    "TOBRIN again (with -notrans when the Einstein shows \"[ Waiting to proceed\")",
};
static_assert(LINK_MAX_RECOVERIES == 5, "the report says five");

// Recovers from `fault` at a batch that did not get across: the Einstein
// resumes at the batch's first sector, or - the first time the PC gave up
// waiting for the status block - its late status block completes the
// batch (*batch_done).  False after a halt report.
static bool recover(Transfer* t, int first, BlockFault fault, RecoveryState* state, bool waited_for_status,
                    bool* batch_done)
{
    Clock::time_point start = Clock::now();
    auto restart = [&](int attempt, BlockFault why, bool* heard) {
        if (waited_for_status && why == BLOCK_NO_ANSWER && attempt == 1 && late_status(t, first))
            return ALREADY_DONE;
        return resume_einstein(t, first, why == BLOCK_EINSTEIN_TIMED_OUT, heard);
    };
    if (!recover_at(state, fault, true, first / t->sectors_per_cylinder, first % t->sectors_per_cylinder,
                    WRITE_RECOVERY, restart, batch_done))
        return false;
    ++t->recoveries;
    t->recovery_seconds += std::chrono::duration<double>(Clock::now() - start).count();
    return true;
}

static int send_image(DiscImage* image, const char* name, int verify, bool fast, ProgramState* program);

int transfer_image(const char* name)
{
    DiscImageOwner image;
    if (name != nullptr) {
        std::printf("2) Sending disk image %s, please wait.\n", name);
        std::fflush(stdout);
        image.reset(image_load_file(name));
        if (!image) return 0;
        image_describe(image.get());
    }
    ProgramState program;
    return send_image(image.get(), name, 0, false, &program);
}

int transfer_loaded_image(DiscImage* image, const char* name, int verify, bool fast, ProgramState* program)
{
    if (name != nullptr && image == nullptr) return 0;  // nothing was loaded under that name
    if (name != nullptr) {
        std::printf("2) Sending disk image %s, please wait.\n", name);
        image_describe(image);
    }
    return send_image(image, name, verify, fast, program);
}

// -fast: the first sector of the batch that goes first, out of the
// drive's order, or -1.  That is the last batch when it holds the filler
// alone (a disk's blank end): its disk work, which no line time would
// cover at the end, then goes on while the first batch with data streams
// in.  The look at it reads the image quietly: its warnings come when it
// is sent.
static int lead_batch(Transfer* t)
{
    int last = t->total - t->batch_sectors;
    if (!t->packed || last < t->batch_sectors || t->total % t->batch_sectors != 0) return -1;
    bool blank = true;
    t->image->quiet = 1;
    seek_sector(t, last);
    for (int k = 0; k < t->batch_sectors && blank; ++k) {
        fetch_sector(t, t->batch.data());
        blank = std::memcmp(t->batch.data(), blank_sector(), SECTOR_SIZE) == 0;
    }
    t->image->quiet = 0;
    seek_sector(t, 0);
    return blank ? last : -1;
}

// The batch that goes after the one at `first`: the lead batch first, then
// the others in the drive's order (t->total or more: none).
static int batch_after(const Transfer* t, int first, int lead)
{
    int next = first == lead ? 0 : first + t->batch_sectors;
    return next == lead ? next + t->batch_sectors : next;
}

static int send_image(DiscImage* loaded, const char* name, int verify, bool fast, ProgramState* program)
{
    DiscImageOwner builtin;
    DiscImage* image = loaded;
    if (name == nullptr) {
        std::printf("2) Sending standard disk image, please wait\n");
        std::fflush(stdout);
        builtin.reset(image_open_memory(default_image, default_image_length));
        image = builtin.get();
        if (image == nullptr) return 0;
    }

    Transfer t{};
    t.verify = verify != 0 || fast;
    t.packed = fast;
    // -fast on a line faster than 9600: batches of 40, whose streams fit
    // the Einstein's room; at 9600 the line is the slower by far, and the
    // copies' longer reach into a batch of 80 saves more of it.
    t.batch_sectors = fast && program->line_baud > 9600 ? FAST_BATCH_SECTORS : BATCH_SECTORS;
    t.program = program;
    t.builtin = name == nullptr;
    t.image = image;
    t.image_tracks_whole = t.image_tracks = image_track_count(image);
    t.image_spc_whole = t.sectors_per_cylinder = image_side_count(image) * SECTORS_PER_SIDE;
    try {
        t.batch.resize(static_cast<std::size_t>(BATCH_SECTORS) * SECTOR_SIZE);
        if (fast) t.next_batch.resize(t.batch.size());
        t.status.reserve(static_cast<std::size_t>(MAX_TRACKS * 2 * SECTORS_PER_SIDE));  // the largest drive
    } catch (const std::bad_alloc&) {
        halt_report("Cannot allocate status buffer", nullptr, HALT_RESOURCE);
        return 0;
    }

    RecoveryState state{};
    bool batch_done = false;
    std::uint8_t flags = 0;
    if (recv_byte_within(&flags, link_answer_s(1))) {
        take_flags(&t, flags);
        send_byte(static_cast<std::uint8_t>(t.image_tracks));
        send_byte(static_cast<std::uint8_t>(t.sectors_per_cylinder));
        send_byte(static_cast<std::uint8_t>(t.batch_sectors));
    } else {
        if (serial_port.failed) return transfer_failed("Serial link to the Einstein lost", nullptr);
        // The flags byte was lost: the resume brings it again, and the
        // image is fitted to the drive before a batch goes out.
        if (!recover(&t, 0, BLOCK_NO_ANSWER, &state, false, &batch_done)) return 0;
    }

    t.started = std::chrono::steady_clock::now();
    t.next_first = t.streamed_first = -1;
    t.stream_most = t.batch_sectors <= FAST_BATCH_SECTORS ? STREAM_MAX_WIDE : STREAM_MAX;
    t.stream_room = t.stream_most;
    int lead = lead_batch(&t);
    t.sectors_before = 0;
    for (int first = lead >= 0 ? lead : 0; first < t.total;
         first = batch_after(&t, first, lead), t.sectors_before += t.batch_sectors) {
        t.following = batch_after(&t, first, lead);
        t.fetched = 0;
        if (t.next_first == first) {  // fetched ahead for the stream
            std::swap(t.batch, t.next_batch);
            t.fetched = t.next_fetched;
            t.next_first = -1;
        }
        t.mismatch_resends = 0;
        state = RecoveryState{};
        bool waited_for_status = false;
        for (BlockFault fault; (fault = send_batch(&t, first, &waited_for_status)) != BLOCK_OK;) {
            if (!recover(&t, first, fault, &state, waited_for_status, &batch_done)) return 0;
            if (batch_done) break;
            // The drive is smaller than the first flags byte said (it came
            // damaged): a batch past its end is not written.  (-fast's
            // first batch may be one: the blank last one of the drive the
            // flags named.)
            if (first >= t.total) {
                t.sectors_before -= t.batch_sectors;
                break;
            }
        }
        if (t.packed && first < t.total) {
            t.sides_heard = t.batch_sectors / SECTORS_PER_SIDE + 1;  // the whole batch
            show_fast_progress(&t, fast_sectors_done(&t));
        }
    }
    send_byte(END_BYTE);

    t.status.resize(static_cast<std::size_t>(t.total));  // the drive's sectors, as its last flags said
    int failed_sectors = 0, rewritten = 0;
    for (std::uint8_t s : t.status) {
        if (!sector_written(s)) ++failed_sectors;
        if (s & STATUS_VERIFIED_AFTER_REWRITE) ++rewritten;
    }
    if (t.recoveries > 0) {
        std::printf("\n  + %d line fault%s recovered (%.0f s)", t.recoveries, t.recoveries == 1 ? "" : "s",
                    t.recovery_seconds);
        std::fflush(stdout);
    }
    if (t.packed && t.sector_bytes > 0) {
        std::printf("\n  + %llu bytes of sectors went as %llu compressed (%.2f to 1)",
                    static_cast<unsigned long long>(t.sector_bytes), static_cast<unsigned long long>(t.packed_bytes),
                    static_cast<double>(t.sector_bytes) / static_cast<double>(t.packed_bytes));
        std::fflush(stdout);
    }
    if (t.verify) {
        std::printf("\n  + %d sectors verified, %d needed a rewrite", static_cast<int>(t.status.size()) - failed_sectors,
                    rewritten);
        std::fflush(stdout);
    }
    if (failed_sectors > 0) {
        std::printf("\n");
        print_sector_failures(t.status, t.sectors_per_cylinder);
        char count[16];
        std::snprintf(count, sizeof count, "%d", failed_sectors);
        halt_report("%s sector(s) could not be written", count, HALT_EINSTEIN);
        return 0;
    }
    return 1;
}
