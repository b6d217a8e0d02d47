// einstein-sim - a virtual Einstein on a pseudo-terminal, for running the
// real tobrin without the machine.
//
// It starts with the monitor loader already typed in at 1000h and started
// (as "G1000" would), prints the pseudo-terminal to give tobrin as
// TOBRIN_COM1, shows the Einstein's screen lines as they change, and ends
// when the monitor is re-entered after a complete run (or on "quit", end of
// input is not an end).  Commands on standard input, one a line: "protect",
// "unprotect" (the disk's notch), "swap [FILE]" (another disk: a blank one,
// or an image), "save FILE", "boot" (Ctrl+Break: boot drive 0), "quit".
// Faults on the line and a reset of the machine can be arranged, seeded
// and reproducible.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <string>
#include <time.h>
#include <unistd.h>

#include "image/default_image.h"
#include "image/disc_image.h"
#include "sim/einstein.h"
#include "sim/program_probe.h"
#include "target/monitor_loader.h"

namespace {

volatile std::sig_atomic_t quit_requested = 0;

void on_signal(int)
{
    quit_requested = 1;
}

void usage()
{
    std::printf(
        "Usage: einstein-sim [options]\n"
        "\n"
        "A virtual Einstein whose monitor holds TOBRIN's loader at 1000h and runs it.\n"
        "Give tobrin the pseudo-terminal it prints: TOBRIN_COM1=<path> tobrin 1\n"
        "\n"
        "Drive 0:\n"
        "  --tracks N           40 (default) or 80 tracks\n"
        "  --sides N            1 (default) or 2 sides\n"
        "  --write-protect      the disk is write-protected (\"unprotect\" on stdin lifts it)\n"
        "  --no-disk            no disk in the drive\n"
        "  --disk FILE          the disk in the drive holds this extended DSK image\n"
        "  --boot-disk          start by booting the disk in drive 0 (the TOBRIN boot\n"
        "                       disk starts the program) instead of the typed loader\n"
        "Faults:\n"
        "  --fail-first-check   the first drive check reports \"not ready\"\n"
        "  --seek-error T       a seek to track T ends with Seek Error\n"
        "  --end-early T        a Write Track on track T ends after 3000 bytes\n"
        "  --fail-write T:S     every write of track T sector ID S fails with code 3\n"
        "                       (a Write Track's data there reads back bad)\n"
        "  --weak-sector T:S    the first write to sector ID S of track T is taken but not\n"
        "                       kept (a second write is)\n"
        "  --bad-read T:S       every read of sector ID S of track T fails and reads wrong\n"
        "Faults on the line (each byte is drawn for, from a seeded generator):\n"
        "  --max-baud B         above B baud every byte arrives damaged (a USART or an\n"
        "                       adapter that cannot keep up)\n"
        "  --seed N             seed of the fault generator (default 1): the same seed,\n"
        "                       the same faults\n"
        "  --drop-to-einstein R     drop the PC's bytes at rate R (0 to 1)\n"
        "  --drop-from-einstein R   drop the Einstein's bytes at rate R\n"
        "  --corrupt-to-einstein R  change the PC's bytes at rate R (1 to 8 bits flipped)\n"
        "  --corrupt-from-einstein R  change the Einstein's bytes at rate R\n"
        "  --drop-byte N        drop the PC's N-th byte (from 0: the format command)\n"
        "  --change-byte N      change the PC's N-th byte (5Ah flipped)\n"
        "  --drop-byte-from-einstein N    drop the Einstein's N-th byte (from 0: the\n"
        "                       first format status byte)\n"
        "  --change-byte-from-einstein N  change the Einstein's N-th byte\n"
        "  --change-at EVENT[:N]  change the byte of a protocol event, its N-th time\n"
        "                       (default 1): format-status, drive-flags, follow-answer,\n"
        "                       stage-checksum, record-answer, record-fill-value\n"
        "  --cut-line-at S      from S emulated seconds on, nothing passes either way\n"
        "  --faults-from-start  drop and change bytes from the start; by default they begin\n"
        "                       when the program starts (the typed loader has no checksum:\n"
        "                       a program that arrives damaged needs the user)\n"
        "  --reset-at S         reset the Einstein at S emulated seconds: the program is gone,\n"
        "                       the monitor waits at its prompt (until tobrin closes the line)\n"
        "The PC's adapter (default: ideal):\n"
        "  --adapter NAME       a preset for the chips people have:\n"
        "%s"
        "  --cts-lag N          N more bytes (0 to 64) may still start after RTS drops, the\n"
        "                       byte already on its way not counted (--late-cts: 1)\n"
        "  --cts-ignored        the adapter sends whatever RTS says\n"
        "  --usb-latency MS     the Einstein's bytes reach the PC in packets of up to 62,\n"
        "                       sent when full or when the latency timer runs out\n"
        "  --pc-late MS         every byte the PC writes starts on the line no sooner than\n"
        "                       MS emulated ms after it was written (a busy PC, a hub)\n"
        "  --adapter-rates R    the rates it makes: exact (default), 16550 (115200/n),\n"
        "                       cp2102 (its table: 31250 becomes 38400), ch340 (9615 for\n"
        "                       9600); the PC reads back the rate it asked\n"
        "Running:\n"
        "  While the Einstein waits for tobrin, its time passes as fast as the wall clock's,\n"
        "  so its poll limits last as long as on the machine.  Otherwise it runs as fast\n"
        "  as it can, unless:\n"
        "  --pace real          its time never runs ahead of the wall clock (every answer\n"
        "                       as late as on the machine)\n"
        "  --real-from S        the same from S emulated seconds on only (a stretch at the\n"
        "                       machine's pace, such as a bad area, in a run otherwise fast)\n"
        "  --pace varying       as fast as it can, but stalled every 10 to 30 emulated\n"
        "                       seconds for 0.1 to 0.4 s of wall time, drawn from --seed\n"
        "                       (a busy host: an answer now and then merely late)\n"
        "  --save FILE          save the disk as an extended DSK image at the end\n"
        "  --expect IMAGE       compare the disk with a disc image at the end, sector by\n"
        "                       sector, as tobrin sends it (\"builtin\": tobrin's own disk)\n"
        "  --boot               after a complete run, boot the written disk\n"
        "  --quiet              do not show the screen\n"
        "  --help               this text\n"
        "\n"
        "Commands on standard input: protect, unprotect, swap [FILE] (another disk in\n"
        "drive 0: a blank one, or that image), save FILE, boot (boot drive 0), quit.\n"
        "At the end it prints figures: emulated time per phase, the worst delay from\n"
        "a data request to the CPU's write during Write Track, lost data, line bytes,\n"
        "the faults made and how many blocks the program took in with a changed byte.\n",
        adapter_preset_list());
}

// How the emulation keeps pace with the wall clock between its waits for
// the PC.
enum class Pace {
    FAST,     // as fast as the host runs it
    REAL,     // never ahead of the wall clock
    VARYING,  // fast, with seeded stalls
};

struct Options {
    EinsteinConfig config;
    Pace pace = Pace::FAST;
    std::uint64_t real_from = 0;  // Pace::REAL: from this emulated time on
    std::string save_path;
    std::string expect_path;
    std::string disk_path;
    bool boot_disk = false;
    bool faults_from_start = false;
    std::string change_at;         // a protocol event whose byte is changed
    bool boot = false;
    bool quiet = false;
};

bool parse(int argc, char** argv, Options* o)
{
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](int* out) {
            if (i + 1 >= argc) return false;
            *out = std::atoi(argv[++i]);
            return true;
        };
        auto rate = [&](double* out) {
            if (i + 1 >= argc) return false;
            *out = std::atof(argv[++i]);
            return *out >= 0 && *out <= 1;
        };
        auto at = [&](std::uint64_t* out) {
            if (i + 1 >= argc) return false;
            double s = std::atof(argv[++i]);
            if (s < 0) return false;
            *out = static_cast<std::uint64_t>(s * CPU_HZ);
            return true;
        };
        if (a == "--help" || a == "-h") {
            usage();
            std::exit(0);
        } else if (a == "--tracks") {
            if (!value(&o->config.tracks) || (o->config.tracks != 40 && o->config.tracks != 80)) return false;
        } else if (a == "--sides") {
            if (!value(&o->config.sides) || (o->config.sides != 1 && o->config.sides != 2)) return false;
        } else if (a == "--write-protect") {
            o->config.write_protected = true;
        } else if (a == "--disk" && i + 1 < argc) {
            o->disk_path = argv[++i];
        } else if (a == "--boot-disk") {
            o->boot_disk = true;
        } else if (a == "--no-disk") {
            o->config.disk_present = false;
        } else if (a == "--fail-first-check") {
            o->config.fail_first_restore = true;
        } else if (a == "--seek-error") {
            if (!value(&o->config.faults.seek_error_track)) return false;
        } else if (a == "--end-early") {
            if (!value(&o->config.faults.end_early_track)) return false;
            o->config.faults.end_early_bytes = 3000;
        } else if ((a == "--weak-sector" || a == "--bad-read" || a == "--fail-write") && i + 1 < argc) {
            int t = -1, r = -1;
            if (std::sscanf(argv[++i], "%d:%d", &t, &r) != 2 || t < 0 || r < 0) return false;
            (a == "--weak-sector" ? o->config.weak_sectors
             : a == "--bad-read"  ? o->config.faults.bad_data
                                  : o->config.faults.unwritable).emplace_back(t, r);
        } else if (a == "--pace" && i + 1 < argc) {
            std::string pace = argv[++i];
            if (pace == "real") o->pace = Pace::REAL;
            else if (pace == "varying") o->pace = Pace::VARYING;
            else if (pace != "fast") return false;
        } else if (a == "--real-from") {
            if (!at(&o->real_from)) return false;
            o->pace = Pace::REAL;
        } else if (a == "--max-baud" && i + 1 < argc) {
            o->config.max_baud = std::strtod(argv[++i], nullptr);
            if (o->config.max_baud <= 0) return false;
        } else if (a == "--seed" && i + 1 < argc) {
            o->config.line.seed = std::strtoull(argv[++i], nullptr, 10);
        } else if (a == "--drop-to-einstein") {
            if (!rate(&o->config.line.drop_to_einstein)) return false;
        } else if (a == "--drop-from-einstein") {
            if (!rate(&o->config.line.drop_from_einstein)) return false;
        } else if (a == "--corrupt-to-einstein") {
            if (!rate(&o->config.line.corrupt_to_einstein)) return false;
        } else if (a == "--corrupt-from-einstein") {
            if (!rate(&o->config.line.corrupt_from_einstein)) return false;
        } else if (a == "--drop-byte" && i + 1 < argc) {
            o->config.line.drop_byte_to = std::strtoull(argv[++i], nullptr, 10);
        } else if (a == "--change-byte" && i + 1 < argc) {
            o->config.line.change_byte_to = std::strtoull(argv[++i], nullptr, 10);
        } else if (a == "--drop-byte-from-einstein" && i + 1 < argc) {
            o->config.line.drop_byte_from = std::strtoull(argv[++i], nullptr, 10);
        } else if (a == "--change-byte-from-einstein" && i + 1 < argc) {
            o->config.line.change_byte_from = std::strtoull(argv[++i], nullptr, 10);
        } else if (a == "--change-at" && i + 1 < argc) {
            o->change_at = argv[++i];
        } else if (a == "--cut-line-at") {
            if (!at(&o->config.line.cut_at)) return false;
        } else if (a == "--late-cts") {
            o->config.adapter.cts_lag = 1;
        } else if (a == "--cts-lag") {
            if (!value(&o->config.adapter.cts_lag) || o->config.adapter.cts_lag < 0 ||
                o->config.adapter.cts_lag > ADAPTER_MAX_CTS_LAG)
                return false;
        } else if (a == "--cts-ignored") {
            o->config.adapter.cts_ignored = true;
        } else if (a == "--usb-latency" && i + 1 < argc) {
            double ms = std::atof(argv[++i]);
            if (ms < 0 || ms > 255) return false;
            o->config.adapter.usb_latency_s = ms / 1000.0;
        } else if (a == "--pc-late" && i + 1 < argc) {
            double ms = std::strtod(argv[++i], nullptr);
            if (ms < 0 || ms > 10000) return false;
            o->config.adapter.send_late_s = ms / 1000.0;
        } else if (a == "--adapter-rates" && i + 1 < argc) {
            if (!adapter_rates_named(argv[++i], &o->config.adapter.rates)) return false;
        } else if (a == "--adapter" && i + 1 < argc) {
            if (!adapter_preset(argv[++i], &o->config.adapter)) return false;
        } else if (a == "--faults-from-start") {
            o->faults_from_start = true;
        } else if (a == "--reset-at") {
            if (!at(&o->config.reset_at)) return false;
        } else if (a == "--expect" && i + 1 < argc) {
            o->expect_path = argv[++i];
        } else if (a == "--save" && i + 1 < argc) {
            o->save_path = argv[++i];
        } else if (a == "--boot") {
            o->boot = true;
        } else if (a == "--quiet") {
            o->quiet = true;
        } else {
            return false;
        }
    }
    return true;
}

// Shows screen lines: completed ones once, the current one rewritten.
struct ScreenShow {
    std::size_t shown = 0;  // completed lines already printed
    void update(Screen* s, bool quiet)
    {
        if (quiet || !s->changed) return;
        s->changed = false;
        std::vector<std::string> lines = screen_text(s);
        for (; shown + 1 < lines.size(); ++shown) std::printf("\rEinstein| %-40s\n", lines[shown].c_str());
        std::printf("\rEinstein| %-40s", lines.back().c_str());
        std::fflush(stdout);
    }
};

bool commands_open = true;

// Boots drive 0 as after Ctrl+Break; a disk that does not boot leaves the
// monitor at its prompt.
void boot_drive(Einstein* e)
{
    screen_put(&e->screen, '\r');
    screen_put(&e->screen, '\n');
    if (!einstein_boot(e)) e->was_reset = true;
}

void command(Einstein* e, const std::string& line)
{
    std::string word = line.substr(0, line.find(' '));
    std::string rest = line.size() > word.size() ? line.substr(word.size() + 1) : "";
    if (word == "unprotect") e->disk.write_protected = false;
    else if (word == "protect") e->disk.write_protected = true;
    else if (word == "quit") quit_requested = 1;
    else if (word == "swap") {
        bool protect = e->disk.write_protected;
        disk_init(&e->disk, e->config.tracks, e->config.sides);
        e->disk.write_protected = protect;
        if (!rest.empty() && !disk_load_dsk(&e->disk, rest)) std::printf("\neinstein-sim: cannot load %s\n", rest.c_str());
    } else if (word == "save") {
        if (!disk_save_dsk(&e->disk, rest)) std::printf("\neinstein-sim: cannot write %s\n", rest.c_str());
        else std::printf("\neinstein-sim: disk saved to %s\n", rest.c_str());
    } else if (word == "boot") {
        boot_drive(e);
    }
    std::fflush(stdout);
}

std::string pending_input;

void read_commands(Einstein* e)
{
    if (!commands_open) return;
    struct pollfd p = {0, POLLIN, 0};
    if (poll(&p, 1, 0) != 1) return;
    char buffer[256];
    ssize_t n = read(0, buffer, sizeof buffer);
    if (n <= 0) {
        commands_open = false;  // end of input: no more commands, but no end either
        return;
    }
    pending_input.append(buffer, static_cast<std::size_t>(n));
    for (std::size_t end; (end = pending_input.find('\n')) != std::string::npos;) {
        std::string line = pending_input.substr(0, end);
        pending_input.erase(0, end + 1);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
        command(e, line);
    }
}

double seconds(std::uint64_t t)
{
    return static_cast<double>(t) / CPU_HZ;
}

static double wall_since(const struct timespec& start)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec - start.tv_sec) + static_cast<double>(now.tv_nsec - start.tv_nsec) / 1e9;
}

// The emulation's pace (--pace): `draw` is the stalls' seeded generator,
// `next_stall` the emulated time of the next stall.
struct PaceState {
    Pace pace;
    std::uint64_t draw;
    std::uint64_t next_stall;
    std::uint64_t real_from;  // REAL: the emulated time it begins at ...
    double real_since;        // ... and the wall time it began (negative: not yet)
};

static unsigned pace_draw(PaceState* p)
{
    p->draw = p->draw * 6364136223846793005u + 1442695040888963407u;  // a 64-bit LCG
    return static_cast<unsigned>(p->draw >> 33);
}

// 10 to 30 emulated seconds on: rare enough that the answers the PC has
// seen lately are all fast ones when the next stall comes.
static std::uint64_t next_stall_after(PaceState* p, std::uint64_t clock)
{
    return clock + static_cast<std::uint64_t>(CPU_HZ) * (10 + pace_draw(p) % 21);
}

// After a run of the emulation: hold it back as the pace says.  Real: until
// the wall clock has caught up with the emulated clock (from real_from on).
// Varying: at each stall's time, 0.1 to 0.4 s of wall time.
static void keep_pace(PaceState* p, const Einstein* e, const struct timespec& wall_start)
{
    if (p->pace == Pace::REAL && e->clock >= p->real_from) {
        if (p->real_since < 0) p->real_since = wall_since(wall_start);
        double ahead = seconds(e->clock - p->real_from) - (wall_since(wall_start) - p->real_since);
        if (ahead > 0) usleep(static_cast<useconds_t>(ahead * 1e6));
    } else if (p->pace == Pace::VARYING && e->clock >= p->next_stall) {
        usleep(100000 + pace_draw(p) % 300001);
        p->next_stall = next_stall_after(p, e->clock);
    }
}

// Compares the disk with a disc image as tobrin sends it (the image's
// sectors per cylinder over the drive's tracks, blank sectors past the
// image's end).  Prints the outcome; true when every sector matches.
bool compare_with_image(Einstein* e, const std::string& path)
{
    std::fflush(stdout);
    DiscImageOwner image(path == "builtin" ? image_open_memory(default_image, default_image_length)
                                           : image_open_file(path.c_str()));
    if (!image) {
        std::printf("einstein-sim: cannot compare with %s\n", path.c_str());
        return false;
    }
    int spc = image_side_count(image.get()) * SECTORS_PER_SIDE;
    int image_tracks = image_track_count(image.get());
    int total = 0, differ = 0, first_track = -1, first_sector = -1;
    for (int t = 0; t < e->disk.tracks; ++t) {
        if (t < image_tracks) image_load_track(image.get());
        for (int i = 0; i < spc; ++i) {
            const std::uint8_t* want = t < image_tracks ? image_find_sector(image.get(), t, i) : blank_sector();
            DiskSector* got = disk_find_sector(&e->disk, t, i / SECTORS_PER_SIDE, i);
            ++total;
            bool same = got != nullptr && got->data.size() == SECTOR_SIZE &&
                        std::memcmp(got->data.data(), want, SECTOR_SIZE) == 0;
            if (!same && differ++ == 0) first_track = t, first_sector = i;
        }
    }
    if (differ == 0)
        std::printf("einstein-sim: the disk matches the image (%d sectors)\n", total);
    else
        std::printf("einstein-sim: the disk differs from the image in %d of %d sectors (first: track %d sector %d)\n",
                    differ, total, first_track, first_sector);
    return differ == 0;
}

// Revolutions per track side of each disk phase: the format (its first
// Write Track to the end of its last; and from the format command on, the
// drive check and the spin-up included), the writing and the reading (see
// DiskTimes), each over the track sides it touched.  A format laid down
// with the writes (-fast) has no phase of its own: each side's Write Track
// counts with its writing.
void print_disk_revolutions(const Einstein* e, std::uint64_t format_command, bool laid)
{
    const Wd1770Figures& f = e->fdc.figures;
    const DiskTimes& d = e->disk_times;
    auto per_side = [](std::uint64_t t, std::size_t sides) {
        return sides ? static_cast<double>(t) / FDC_REVOLUTION_TSTATES / static_cast<double>(sides) : 0.0;
    };
    if (f.write_tracks == 0 && d.sides_written.empty() && d.sides_read.empty()) return;
    bool formatted = f.write_tracks > 0 && format_command < f.first_write_track;
    std::printf("einstein-sim: sector commands %llu, %llu of them waited for their sector to come round\n",
                static_cast<unsigned long long>(f.sector_commands), static_cast<unsigned long long>(f.turns_waited));
    if (laid) {
        std::printf("einstein-sim: revolutions per track side: format laid down with the writes (%llu track sides), "
                    "write %.2f (%zu, the Write Tracks included), read %.2f (%zu)\n",
                    static_cast<unsigned long long>(f.write_tracks), per_side(d.writing, d.sides_written.size()),
                    d.sides_written.size(), per_side(d.reading, d.sides_read.size()), d.sides_read.size());
        return;
    }
    std::printf("einstein-sim: revolutions per track side: format %.2f (%llu track sides; %.2f from the command), "
                "write %.2f (%zu), read %.2f (%zu)\n",
                formatted ? per_side(f.last_write_track_end - f.first_write_track, f.write_tracks) : 0.0,
                static_cast<unsigned long long>(f.write_tracks),
                formatted ? per_side(f.last_write_track_end - format_command, f.write_tracks) : 0.0,
                per_side(d.writing, d.sides_written.size()),
                d.sides_written.size(), per_side(d.reading, d.sides_read.size()), d.sides_read.size());
}

// The rates each end left the line at, and the bytes their disagreement
// damaged.
void print_line_rates(const Einstein* e)
{
    auto frame = [](const LineFrame& f) {
        char text[48];
        std::snprintf(text, sizeof text, "%.0f baud %d%c%g", f.baud, f.data_bits, f.parity ? 'P' : 'N', f.stop_bits);
        return std::string(text);
    };
    LineFrame tx = usart_frame(&e->usart, true), rx = usart_frame(&e->usart, false);
    std::printf("einstein-sim: line rates: the Einstein sends at %s and takes %s, the PC at %s; "
                "%llu bytes damaged by rates that did not agree%s\n",
                frame(tx).c_str(), frame(rx).c_str(), frame(host_link_frame(&e->host)).c_str(),
                static_cast<unsigned long long>(e->usart.rate_damaged),
                e->ctc.clock_writes ? "; the program wrote to the monitor's clock channels" : "");
}

}  // namespace

int main(int argc, char** argv)
{
    Options o;
    if (!parse(argc, argv, &o)) {
        std::fprintf(stdout, "einstein-sim: bad options, try --help\n");
        return 2;
    }
    std::signal(SIGINT, on_signal);
    std::signal(SIGTERM, on_signal);
    std::signal(SIGPIPE, SIG_IGN);

    static Einstein e;
    einstein_init(&e, o.config);
    if (!o.disk_path.empty() && !disk_load_dsk(&e.disk, o.disk_path)) {
        std::printf("einstein-sim: cannot load %s\n", o.disk_path.c_str());
        return 1;
    }
    if (!einstein_use_pty(&e)) {
        std::printf("einstein-sim: cannot create a pseudo-terminal\n");
        return 1;
    }
    einstein_load(&e, 0x1000, monitor_loader_image, monitor_loader_length);
    ProgramProbe probe = probe_program(&e, o.faults_from_start);
    if (!o.change_at.empty() && !probe_change_at(&e, o.change_at.c_str())) {
        std::printf("einstein-sim: no protocol event %s (try --help)\n", o.change_at.c_str());
        return 1;
    }
    ScreenShow show;
    if (o.boot_disk) {
        for (const char* c = "READY\r\n>"; *c; ++c) screen_put(&e.screen, *c);
        boot_drive(&e);
    } else {
        einstein_start(&e, 0x1000, 0xFCFF);
        for (const char* c = "READY\r\n>G1000\r\n"; *c; ++c) screen_put(&e.screen, *c);
    }
    std::printf("einstein-sim: line on %s\n", e.host.slave_path.c_str());
    std::printf("einstein-sim: run  TOBRIN_COM1=%s tobrin 1\n", e.host.slave_path.c_str());
    std::fflush(stdout);

    struct timespec wall_start;
    clock_gettime(CLOCK_MONOTONIC, &wall_start);
    // Line bytes (both ways) when the format and the write phase began.
    std::uint64_t bytes_at_format = UINT64_MAX, bytes_at_write = UINT64_MAX;
    PaceState pace{o.pace, o.config.line.seed * 2654435761u + 1, 0, o.real_from, -1.0};
    pace.next_stall = next_stall_after(&pace, 0);
    // While the Z80 waits for tobrin, its emulated time keeps up with the
    // wall clock from the moment the wait began: a silence of the PC lasts
    // as long on the Einstein as on the PC however long the host takes to
    // emulate the polling (under a sanitizer, on a busy machine, polling
    // that only made up for the time waited would fall behind, and the
    // Einstein would reach its poll limit later than the PC expects).
    struct {
        bool active = false;
        double wall = 0;               // when the wait began ...
        std::uint64_t clock = 0;       // ... in wall and emulated time
        std::uint64_t line_bytes = 0;  // the bytes both ways by then
    } silence;
    while (!quit_requested) {
        StopReason why = einstein_run(&e, CPU_HZ / 20);
        keep_pace(&pace, &e, wall_start);
        host_link_flush(&e.host);
        // The Z80 waits for tobrin: wait for it in wall time (or a
        // command), then let the Z80 poll until it has waited as long.
        std::uint64_t line_bytes = e.host.bytes_to_einstein + e.host.bytes_from_einstein;
        if (why != StopReason::Starved || line_bytes != silence.line_bytes) silence.active = false;
        if (why == StopReason::Starved) {
            if (!silence.active) silence = {true, wall_since(wall_start), e.clock, line_bytes};
            host_link_wait(&e.host, 0.05, commands_open ? 0 : -1);
            double behind = wall_since(wall_start) - silence.wall - seconds(e.clock - silence.clock);
            why = behind > 0 ? einstein_catch_up(&e, behind) : StopReason::Limit;
        }
        std::uint64_t bytes = e.host.bytes_to_einstein + e.host.bytes_from_einstein;
        if (bytes_at_format == UINT64_MAX && probe_format_time(&e, probe) != UINT64_MAX)
            bytes_at_format = bytes;
        if (bytes_at_write == UINT64_MAX && einstein_watch_time(&e, probe.at_write) != UINT64_MAX) bytes_at_write = bytes;
        show.update(&e.screen, o.quiet);
        read_commands(&e);
        if (why == StopReason::Monitor || why == StopReason::Halted) break;
        if (why == StopReason::Reset) {
            // The monitor at its prompt does not listen to the line: wait
            // until tobrin has closed it (or "quit").
            if (e.host.pc_gone) break;
            host_link_wait(&e.host, 0.05, commands_open ? 0 : -1);
        }
    }
    std::uint64_t end_of_run = e.clock;
    struct timespec wall_end;
    clock_gettime(CLOCK_MONOTONIC, &wall_end);
    std::printf("\n");

    if (o.boot && e.stop == StopReason::Monitor) {
        std::printf("einstein-sim: booting the disk in drive 0\n");
        boot_drive(&e);
        if (!e.was_reset) einstein_run(&e, 10 * CPU_HZ);
        show.update(&e.screen, o.quiet);
        std::printf("\n");
    }
    if (e.stop == StopReason::Halted && e.unknown_mos_call)
        std::printf("einstein-sim: unknown MOS call %02Xh\n", e.unknown_mos_call);

    std::uint64_t t_program = einstein_watch_time(&e, probe.at_program);
    std::uint64_t t_format = probe_format_time(&e, probe);
    std::uint64_t t_write = einstein_watch_time(&e, probe.at_write);
    double wall = static_cast<double>(wall_end.tv_sec - wall_start.tv_sec) +
                  static_cast<double>(wall_end.tv_nsec - wall_start.tv_nsec) / 1e9;
    std::printf("einstein-sim: emulated time %.3f s", seconds(end_of_run));
    if (t_program != UINT64_MAX) std::printf(", program loaded at %.3f s", seconds(t_program));
    if (t_format != UINT64_MAX && t_write != UINT64_MAX)
        std::printf(", format %.3f s, transfer %.3f s", seconds(t_write - t_format), seconds(end_of_run - t_write));
    std::printf("\n");
    std::printf("einstein-sim: write tracks %llu, worst data-request delay %llu T (budget 128 T), "
                "first byte %llu T (budget 384 T), lost data %llu\n",
                static_cast<unsigned long long>(e.fdc.figures.write_tracks),
                static_cast<unsigned long long>(e.fdc.figures.worst_drq_delay),
                static_cast<unsigned long long>(e.fdc.figures.worst_first_delay),
                static_cast<unsigned long long>(e.fdc.figures.lost_data));
    einstein_disk_work(&e, DiskWork::None);
    print_disk_revolutions(&e, t_format, probe_format_laid(&e, probe));
    print_line_rates(&e);
    std::printf("einstein-sim: line bytes from the PC %llu, to the PC %llu, overruns %llu\n",
                static_cast<unsigned long long>(e.host.bytes_to_einstein),
                static_cast<unsigned long long>(e.host.bytes_from_einstein),
                static_cast<unsigned long long>(e.usart.overruns));
    if (e.first_overrun_at != UINT64_MAX)
        std::printf("einstein-sim: the first overrun came at %.6f s, after the instruction at %04Xh\n",
                    seconds(e.first_overrun_at), e.first_overrun_pc);
    if (e.usart.closest_call != UINT64_MAX)
        std::printf("einstein-sim: closest call: a received byte was read %llu T before the next would have "
                    "overwritten it\n",
                    static_cast<unsigned long long>(e.usart.closest_call));
    std::printf("einstein-sim: line and disk together: %llu bytes from the PC (%.3f s of line of %.3f s) came "
                "while the controller worked\n",
                static_cast<unsigned long long>(e.overlap_bytes), seconds(e.overlap_tstates),
                seconds(e.usart.rx_arrived_tstates));
    if (bytes_at_write != UINT64_MAX)
        std::printf("einstein-sim: line bytes by phase: program %llu, format %llu, transfer %llu\n",
                    static_cast<unsigned long long>(bytes_at_format),
                    static_cast<unsigned long long>(bytes_at_write - bytes_at_format),
                    static_cast<unsigned long long>(e.host.bytes_to_einstein + e.host.bytes_from_einstein - bytes_at_write));
    std::printf("einstein-sim: speed %.1f emulated MHz over %.2f s of wall time, "
                "%.2f s of it waiting for the PC (%llu waits)\n",
                wall > 0 ? seconds(end_of_run) * 4.0 / wall : 0.0, wall, e.host.waited_seconds,
                static_cast<unsigned long long>(e.host.waits));
    if (e.protected_writes) std::printf("einstein-sim: %llu stores into the monitor's memory\n",
                                        static_cast<unsigned long long>(e.protected_writes));
    const LineFaults& f = e.line_faults;
    const SerialAdapter& adapter = e.host.adapter;
    if (adapter.cts_lag > 0 || adapter.cts_ignored || adapter.usb_latency_s > 0 || adapter.late_bytes > 0)
        std::printf("einstein-sim: adapter: %llu bytes started after RTS dropped (%s), %llu packets to the PC "
                    "(latency %.0f ms)\n",
                    static_cast<unsigned long long>(adapter.late_bytes),
                    adapter.cts_ignored ? "CTS ignored" : ("up to " + std::to_string(adapter.cts_lag) + " late").c_str(),
                    static_cast<unsigned long long>(adapter.packets), adapter.usb_latency_s * 1000);
    if (adapter.send_late_s > 0)
        std::printf("einstein-sim: the PC's bytes started on the line %.0f ms after it wrote them\n",
                    adapter.send_late_s * 1000);
    if (f.dropped_to + f.dropped_from + f.corrupted_to + f.corrupted_from + f.cut_bytes > 0 || e.was_reset)
        std::printf("einstein-sim: faults: dropped %llu to the Einstein, %llu to the PC; changed %llu to the Einstein, "
                    "%llu to the PC; %llu lost to the cut; blocks taken in with a changed "
                    "byte %llu (checksum let through %llu, fill form %llu, compressed %llu)%s\n",
                    static_cast<unsigned long long>(f.dropped_to), static_cast<unsigned long long>(f.dropped_from),
                    static_cast<unsigned long long>(f.corrupted_to), static_cast<unsigned long long>(f.corrupted_from),
                    static_cast<unsigned long long>(f.cut_bytes),
                    static_cast<unsigned long long>(probe_blocks().full_taken_changed + probe_blocks().fill_taken_changed +
                                                    probe_blocks().compressed_taken_changed),
                    static_cast<unsigned long long>(probe_blocks().full_taken_changed),
                    static_cast<unsigned long long>(probe_blocks().fill_taken_changed),
                    static_cast<unsigned long long>(probe_blocks().compressed_taken_changed),
                    e.was_reset ? "; the machine was reset" : "");
    if (const char* event = probe_event_changed()) std::printf("einstein-sim: the protocol event %s was changed\n", event);
    int status = 0;
    if (!o.expect_path.empty() && !compare_with_image(&e, o.expect_path)) status = 3;
    if (!o.save_path.empty()) {
        if (disk_save_dsk(&e.disk, o.save_path)) std::printf("einstein-sim: disk saved to %s\n", o.save_path.c_str());
        else {
            std::printf("einstein-sim: cannot write %s\n", o.save_path.c_str());
            status = 1;
        }
    }
    einstein_destroy(&e);
    return status;
}
