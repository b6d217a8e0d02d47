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
// Recovery: when a batch does not get across (the Einstein stopped
// answering, timed out, or the exchange lost step), TOBRIN falls silent
// until the Einstein is back in its command loop, has it resume writing at
// the batch's first sector ("W" with the position, acknowledged with "W"
// and the drive flags) and sends the batch again from the copy it kept.
// Nothing of this happens, and no byte of it goes on the line, in a run
// without faults.
#include "link/image_transfer.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "image/default_image.h"
#include "image/disc_image.h"
#include "image/dsk_codec.h"
#include "link/block_transfer.h"
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
    int image_tracks;            // the image's tracks
    int sectors_per_cylinder;    // the image's sides x 10
    std::uint8_t flags;          // the drive flags byte
    int total;                   // sectors to send: drive tracks x sectors_per_cylinder
    std::vector<std::uint8_t> status;  // one status byte per sector sent
    // The batch being sent, as fetched from the image, so that a resumed
    // batch goes again unchanged (and the reader's warnings come once).
    std::vector<std::uint8_t> batch;
    int fetched;                 // sectors of the batch fetched so far
    int image_track, index;      // the image position of the next sector to fetch
    int recoveries;              // recoveries in the whole transfer
    double recovery_seconds;     // and the time they took
    bool verify;                 // every sector is read back on the Einstein
    int mismatch_resends;        // times the batch went again for a verify mismatch
    bool builtin;                // the built-in boot disk is sent
    bool show_rate;              // the progress line gives the throughput and the time left
    bool packed;                 // the sectors go compressed (-fast)
    std::uint64_t sector_bytes;  // -fast: the bytes of the sectors sent so far (each once) ...
    std::uint64_t packed_bytes;  // ... and of their compressed blocks
    std::chrono::steady_clock::time_point started;  // when the first batch began
    std::uint64_t bytes_at_start;                   // the port's bytes sent by then
};

// " 3.0 KB/s, 1:23 left": the bytes the PC sent a second since the first
// batch, and the time left at the pace of the sectors done so far.
static std::string rate_and_time_left(const Transfer* t, int n)
{
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t->started).count();
    if (n == 0 || seconds <= 0) return "  --- KB/s, --:-- left";
    double per_second = static_cast<double>(serial_port.bytes_sent - t->bytes_at_start) / seconds;
    int left = static_cast<int>(seconds / n * (t->total - n) + 0.5);
    char text[48];
    std::snprintf(text, sizeof text, "  %.1f KB/s, %d:%02d left", per_second / 1024, left / 60, left % 60);
    return text;
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

// Takes the drive flags: the number of sectors to send follows from them.
// The status table only grows: a batch being received may lie past the end
// of a drive that the new flags make smaller (its bytes are not counted
// at the end).
static bool take_flags(Transfer* t, std::uint8_t flags)
{
    t->flags = flags;
    t->total = drive_tracks(flags) * t->sectors_per_cylinder;
    try {
        if (t->status.size() < static_cast<std::size_t>(t->total)) t->status.resize(static_cast<std::size_t>(t->total));
    } catch (const std::bad_alloc&) {
        halt_report("Cannot allocate status buffer", nullptr, HALT_RESOURCE);
        return false;
    }
    return true;
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

// The batch's status block.  The Einstein writes the whole batch first;
// when that takes longer than a healthy disk needs, the console says so.
static bool receive_status(Transfer* t, int first)
{
    std::uint8_t* status = &t->status[static_cast<std::size_t>(first)];
    std::uint8_t marker = 0;
    double healthy = t->verify ? BATCH_VERIFY_HEALTHY_S : BATCH_WRITE_HEALTHY_S;
    double limit = t->verify ? BATCH_VERIFY_S : BATCH_WRITE_S;
    if (!recv_byte_within(&marker, healthy)) {
        if (serial_port.failed) return false;
        std::printf("\n  + The Einstein is still writing this batch (a sector is being tried again; its screen "
                    "shows which): waiting %.0f s more\n",
                    limit - healthy);
        std::fflush(stdout);
        if (!recv_byte_within(&marker, limit - healthy)) {
            block_fault = serial_port.failed ? BLOCK_LINK_DEAD : BLOCK_NO_ANSWER;
            return false;
        }
    }
    return receive_block_marked(marker, status, BATCH_SECTORS) == 1;
}

// Every sector of the batch failed: that is also what a status block
// damaged on the line looks like, or the batch of a drive whose flags byte
// was damaged (40 tracks read as 80).  Asks the Einstein for its drive
// flags and the status block again and takes what it says now.
static bool report_again(Transfer* t, int first)
{
    if (!send_byte(REPORT_COMMAND)) {
        block_fault = BLOCK_LINK_DEAD;
        return false;
    }
    std::uint8_t flags = 0;
    if (!recv_byte_within(&flags, link_answer_s(1))) {
        block_fault = serial_port.failed ? BLOCK_LINK_DEAD : BLOCK_NO_ANSWER;
        return false;
    }
    if (!transfer_block(&t->status[static_cast<std::size_t>(first)], BATCH_SECTORS, nullptr, TRANSFER_RECEIVE))
        return false;
    // The drive is smaller than the first flags byte said: the batches
    // past its end were never meant to be written.
    return flags == t->flags || take_flags(t, flags);
}

static bool every_sector_failed(const Transfer* t, int first)
{
    for (int k = 0; k < BATCH_SECTORS; ++k)
        if (sector_written(t->status[static_cast<std::size_t>(first + k)])) return false;
    return true;
}

// -verify: a sector of the batch still read back different after the
// Einstein's rewrites.
static bool mismatch_in_batch(const Transfer* t, int first)
{
    for (int k = 0; k < BATCH_SECTORS; ++k)
        if (t->status[static_cast<std::size_t>(first + k)] == STATUS_VERIFY_MISMATCH) return true;
    return false;
}

// -verify: the CRC-16 of each sector of the batch, high byte first.
static bool send_batch_crcs(const Transfer* t)
{
    std::uint8_t crcs[2 * BATCH_SECTORS];
    for (int k = 0; k < BATCH_SECTORS; ++k) {
        std::uint16_t crc = dsk::crc16(&t->batch[static_cast<std::size_t>(k) * SECTOR_SIZE], SECTOR_SIZE);
        crcs[2 * k] = static_cast<std::uint8_t>(crc >> 8);
        crcs[2 * k + 1] = static_cast<std::uint8_t>(crc & 0xFF);
    }
    return transfer_block(crcs, sizeof crcs, nullptr, TRANSFER_SEND) == 1;
}

// -fast: the block of the batch's sector k (target/packed.asm): its length
// and a check of it (a length that came damaged would put the two ends out
// of step), its number (with FILLER_FLAG when it is the format's filler),
// the CRC-16 of the sector and then of the number byte (so that a damaged
// number cannot pass), and the compressed form, which may copy from the
// batch's earlier sectors (none for the filler: the Einstein lays it down
// itself).
static_assert(BLANK_BYTE == target_program_image_labels::BLANK_BYTE, "the filler the Einstein lays down");
static std::vector<std::uint8_t> packed_block(const Transfer* t, int k)
{
    const std::size_t offset = static_cast<std::size_t>(k) * SECTOR_SIZE;
    const std::uint8_t* sector = &t->batch[offset];
    bool filler = std::memcmp(sector, blank_sector(), SECTOR_SIZE) == 0;
    std::vector<std::uint8_t> form;
    if (!filler) form = lz_compress_sector(t->batch.data(), offset);
    std::uint8_t number = static_cast<std::uint8_t>(k | (filler ? FILLER_FLAG : 0));
    std::uint16_t crc = dsk::crc16(&number, 1, dsk::crc16(sector, SECTOR_SIZE));
    std::size_t length = PACKED_HEADER - 3 + form.size();
    std::uint8_t low = static_cast<std::uint8_t>(length & 0xFF), high = static_cast<std::uint8_t>(length >> 8);
    std::vector<std::uint8_t> block = {low, high, static_cast<std::uint8_t>(0xFF - low - high), number,
                                       static_cast<std::uint8_t>(crc >> 8), static_cast<std::uint8_t>(crc & 0xFF)};
    block.insert(block.end(), form.begin(), form.end());
    return block;
}

// Sends one batch from sector `first`, and takes its status block.
// *waited_for_status tells that the batch went out whole and only its
// status block did not come.
static bool send_batch(Transfer* t, int first, bool* waited_for_status)
{
    *waited_for_status = false;
    if (!send_byte(t->packed ? PACKED_BATCH : t->verify ? VERIFY_BATCH : BATCH_BYTE)) {
        block_fault = BLOCK_LINK_DEAD;
        return false;
    }
    char label[LABEL_SIZE];
    for (int k = 0; k < BATCH_SECTORS; ++k) {
        int n = first + k;
        std::uint8_t* sector = &t->batch[static_cast<std::size_t>(k) * SECTOR_SIZE];
        bool first_time = k == t->fetched;
        if (first_time) {
            fetch_sector(t, sector);
            ++t->fetched;
        }
        std::snprintf(label, sizeof label, "WRITE 0: Track %02d Sector %02d%s", n / t->sectors_per_cylinder,
                      n % t->sectors_per_cylinder, t->show_rate ? rate_and_time_left(t, n).c_str() : "");
        if (t->packed) {
            std::vector<std::uint8_t> block = packed_block(t, k);
            if (first_time) {
                t->sector_bytes += SECTOR_SIZE;
                t->packed_bytes += block.size();
            }
            if (!transfer_block(block.data(), static_cast<int>(block.size()), label, TRANSFER_SEND_UNMARKED))
                return false;
        } else if (!transfer_block(sector, SECTOR_SIZE, label, TRANSFER_SEND)) {
            return false;
        }
    }
    if (t->verify && !t->packed && !send_batch_crcs(t)) return false;
    *waited_for_status = true;
    if (!receive_status(t, first)) return false;
    *waited_for_status = false;
    if (every_sector_failed(t, first) && !report_again(t, first)) return false;
    if (t->verify && t->mismatch_resends < LINK_MISMATCH_RESENDS && mismatch_in_batch(t, first)) {
        ++t->mismatch_resends;
        block_fault = BLOCK_VERIFY_MISMATCH;
        return false;
    }
    return true;
}

// Has the Einstein resume writing at sector `first` of the drive: true when
// it acknowledged, with the drive flags it sends again.  *heard tells
// whether the Einstein sent anything at all meanwhile.
static bool resume_einstein(Transfer* t, int first, bool einstein_timed_out, bool* heard)
{
    if (!wait_for_command_loop(einstein_timed_out, heard)) return false;
    const std::uint8_t where[] = {static_cast<std::uint8_t>(t->sectors_per_cylinder), BATCH_SECTORS,
                                  static_cast<std::uint8_t>(first / t->sectors_per_cylinder),
                                  static_cast<std::uint8_t>(first % t->sectors_per_cylinder)};
    if (!send_checked_command(RESUME_COMMAND, where, sizeof where)) return false;
    std::uint8_t ack = 0, flags = 0;
    if (!recv_byte_within(&ack, LINK_RESUME_ANSWER_S)) return false;
    *heard = true;
    if (ack != RESUME_COMMAND || !recv_byte_within(&flags, link_answer_s(1))) return false;
    if (flags != t->flags && !take_flags(t, flags)) return false;
    return true;
}

// A status block that comes after TOBRIN stopped waiting for it: the
// Einstein was still writing (sectors tried again and again).  Listens for
// a quiet interval; true when the whole status block came after all.
static bool late_status(Transfer* t, int first)
{
    std::uint8_t marker = 0;
    if (!recv_byte_within(&marker, LINK_QUIET_S)) return false;
    if (marker != FILL_MARKER && marker != FULL_MARKER) return false;
    return receive_block_marked(marker, &t->status[static_cast<std::size_t>(first)], BATCH_SECTORS) == 1;
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
};
static_assert(LINK_MAX_RECOVERIES == 5, "the report says five");

// Recovers from a batch that did not get across: the Einstein resumes at
// the batch's first sector, or - the first time the PC gave up waiting for
// the status block - its late status block completes the batch
// (*batch_done).  False after a halt report.
static bool recover(Transfer* t, int first, RecoveryState* state, bool waited_for_status, bool* batch_done)
{
    Clock::time_point start = Clock::now();
    auto restart = [&](int attempt, BlockFault fault, bool* heard) {
        if (waited_for_status && fault == BLOCK_NO_ANSWER && attempt == 1 && late_status(t, first))
            return ALREADY_DONE;
        return resume_einstein(t, first, fault == BLOCK_EINSTEIN_TIMED_OUT, heard) ? RESTARTED : NOT_TAKEN;
    };
    if (!recover_at(state, block_fault, true, first / t->sectors_per_cylinder, first % t->sectors_per_cylinder,
                    WRITE_RECOVERY, restart, batch_done))
        return false;
    ++t->recoveries;
    t->recovery_seconds += std::chrono::duration<double>(Clock::now() - start).count();
    return true;
}

static int send_image(DiscImage* image, const char* name, int verify, bool fast = false);

int transfer_image(const char* name, int verify)
{
    DiscImageOwner image;
    if (name != nullptr) {
        std::printf("2) Sending disk image %s, please wait.\n", name);
        std::fflush(stdout);
        image.reset(image_load_file(name));
        if (!image) return 0;
        image_describe(image.get());
    }
    return send_image(image.get(), name, verify);
}

// An image larger than the drive is written as far as the drive goes: the
// tracks (and the side) it has no room for are left out, and said so.  The
// sectors sent already stop at the drive's last track; the geometry byte
// is the image's tracks, but never more than the Einstein takes (80).
static void fit_to_drive(Transfer* t)
{
    int tracks = drive_tracks(t->flags);
    bool one_side = (t->flags & DRIVE_TWO_SIDES) == 0;
    int left_out = t->image_tracks > tracks ? t->image_tracks - tracks : 0;
    bool side_left_out = one_side && t->sectors_per_cylinder == 2 * SECTORS_PER_SIDE;
    if (t->image_tracks > MAX_TRACKS) t->image_tracks = MAX_TRACKS;
    if (side_left_out) t->sectors_per_cylinder = SECTORS_PER_SIDE;  // each cylinder's side 0 only
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

int transfer_loaded_image(DiscImage* image, const char* name, int verify, bool fast)
{
    if (name != nullptr && image == nullptr) return 0;  // nothing was loaded under that name
    if (name != nullptr) {
        std::printf("2) Sending disk image %s, please wait.\n", name);
        image_describe(image);
    }
    return send_image(image, name, verify, fast);
}

static int send_image(DiscImage* loaded, const char* name, int verify, bool fast)
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
    t.show_rate = fast;
    t.packed = fast;
    t.builtin = name == nullptr;
    t.image = image;
    t.image_tracks = image_track_count(image);
    t.sectors_per_cylinder = image_side_count(image) * SECTORS_PER_SIDE;
    try {
        t.batch.resize(static_cast<std::size_t>(BATCH_SECTORS) * SECTOR_SIZE);
    } catch (const std::bad_alloc&) {
        halt_report("Cannot allocate status buffer", nullptr, HALT_RESOURCE);
        return 0;
    }

    RecoveryState state{};
    bool batch_done = false;
    std::uint8_t flags = 0;
    bool have_flags = recv_byte_within(&flags, link_answer_s(1));
    if (!have_flags && serial_port.failed) return transfer_failed("Serial link to the Einstein lost", nullptr);
    if (have_flags) {
        t.flags = flags;
        fit_to_drive(&t);
        if (!take_flags(&t, flags)) return 0;
        send_byte(static_cast<std::uint8_t>(t.image_tracks));
        send_byte(static_cast<std::uint8_t>(t.sectors_per_cylinder));
        send_byte(BATCH_SECTORS);
    } else {
        // The flags byte was lost: the resume brings it again.
        t.flags = 0;
        t.total = 0;
        block_fault = BLOCK_NO_ANSWER;
        if (!take_flags(&t, 0) || !recover(&t, 0, &state, false, &batch_done)) return 0;
    }

    t.started = std::chrono::steady_clock::now();
    t.bytes_at_start = serial_port.bytes_sent;
    for (int first = 0; first < t.total; first += BATCH_SECTORS) {
        t.fetched = 0;
        t.mismatch_resends = 0;
        state = RecoveryState{};
        bool waited_for_status = false;
        while (!send_batch(&t, first, &waited_for_status)) {
            if (!recover(&t, first, &state, waited_for_status, &batch_done)) return 0;
            if (batch_done) break;
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
