#include "sim/einstein.h"

#include <cstring>

#include "sim/mos.h"
#include <unistd.h>

#include <z80ex/z80ex.h>

namespace {

// The port map.
constexpr int PORT_USART_DATA = 0x10;
constexpr int PORT_USART_CONTROL = 0x11;
constexpr int PORT_FDC_FIRST = 0x18;   // 18h-1Bh: the controller's registers 0-3
constexpr int PORT_FDC_LAST = 0x1B;
constexpr int PORT_DRIVE_SELECT = 0x23;
constexpr int PORT_CTC_FIRST = 0x28;   // 28h-2Bh: the CTC's channels 0-3
constexpr int PORT_CTC_LAST = 0x2B;
// The drive/side latch.
constexpr std::uint8_t LATCH_DRIVE0 = 0x01;
constexpr std::uint8_t LATCH_SIDE1 = 0x10;

Z80EX_CONTEXT* cpu_of(const Einstein* e)
{
    return static_cast<Z80EX_CONTEXT*>(e->cpu);
}

// The emulated time of a bus access inside the instruction being run.
std::uint64_t access_time(Einstein* e)
{
    return e->clock + static_cast<std::uint64_t>(z80ex_op_tstate(cpu_of(e)));
}

Z80EX_BYTE read_memory(Z80EX_CONTEXT*, Z80EX_WORD address, int, void* user)
{
    return static_cast<Einstein*>(user)->ram[address];
}

void write_memory(Z80EX_CONTEXT*, Z80EX_WORD address, Z80EX_BYTE value, void* user)
{
    Einstein* e = static_cast<Einstein*>(user);
    bool boot_stack = e->booted && address >= 0xFC00 && address <= 0xFCFF;  // the stack the boot hands over
    if ((address <= mos::STUBS_END || address >= mos::WORKSPACE_START) && !mos::documented_workspace(address) &&
        !boot_stack)
        e->protected_writes++;
    if (e->changed_read) e->changed_stores.insert(address);
    e->changed_read = false;
    e->ram[address] = value;
}

Z80EX_BYTE read_port(Z80EX_CONTEXT*, Z80EX_WORD port16, void* user)
{
    Einstein* e = static_cast<Einstein*>(user);
    int port = port16 & 0xFF;
    if (port == PORT_USART_DATA) {
        std::uint64_t changed = e->usart.corrupted_taken;
        Z80EX_BYTE value = usart_read(&e->usart, port, access_time(e));
        e->changed_read = e->usart.corrupted_taken != changed;
        return value;
    }
    if (port == PORT_USART_CONTROL) return usart_read(&e->usart, port, access_time(e));
    if (port >= PORT_FDC_FIRST && port <= PORT_FDC_LAST)
        return wd1770_read(&e->fdc, port - PORT_FDC_FIRST, access_time(e));
    return 0xFF;
}

void write_port(Z80EX_CONTEXT*, Z80EX_WORD port16, Z80EX_BYTE value, void* user)
{
    Einstein* e = static_cast<Einstein*>(user);
    int port = port16 & 0xFF;
    if (port == PORT_USART_DATA) {
        einstein_disk_work(e, DiskWork::None);
        if (e->on_send) e->on_send(e, &value);
    }
    if (port == PORT_USART_DATA || port == PORT_USART_CONTROL) usart_write(&e->usart, port, value, access_time(e));
    else if (port == PORT_FDC_FIRST) {
        // A Write Track the program gives through the port is a format laid
        // down with the writes: the side's writing begins (the monitor's
        // format call is the format's own phase).
        if (value >> 4 == WD_WRITE_TRACK) einstein_disk_work(e, DiskWork::Writing, e->fdc.head_track, e->fdc.side);
        einstein_fdc_command(e, value, access_time(e));
    }
    else if (port > PORT_FDC_FIRST && port <= PORT_FDC_LAST)
        wd1770_write(&e->fdc, port - PORT_FDC_FIRST, value, access_time(e));
    else if (port == PORT_DRIVE_SELECT)
        einstein_select_drive(e, value);
    else if (port >= PORT_CTC_FIRST && port <= PORT_CTC_LAST)
        ctc_write(&e->ctc, port - PORT_CTC_FIRST, value);
}

Z80EX_BYTE read_interrupt_vector(Z80EX_CONTEXT*, void*)
{
    return 0xFF;
}

}  // namespace

// RAM that nobody has written holds whatever the chips came up with: a
// fixed pseudo-random pattern here, so that a program that reads a
// variable before setting it fails on the virtual Einstein as it would on
// the machine (zeros would hide it).
static void fill_unwritten(Einstein* e, std::uint32_t from, std::uint32_t to)
{
    std::uint32_t x = 0x2545F491u ^ from;
    for (std::uint32_t a = from; a < to; ++a) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        e->ram[a] = static_cast<std::uint8_t>(x >> 24);
    }
}

void einstein_init(Einstein* e, const EinsteinConfig& config)
{
    fill_unwritten(e, 0, sizeof e->ram);
    e->config = config;
    e->clock = 0;
    e->stop = StopReason::Limit;
    e->unknown_mos_call = 0;
    e->restores = e->sector_writes = e->sector_reads = 0;
    e->disk_times = DiskTimes{};
    e->protected_writes = 0;
    e->overlap_bytes = e->overlap_tstates = 0;
    e->first_overrun_at = UINT64_MAX;
    e->first_overrun_pc = 0;
    e->changed_read = false;
    e->changed_stores.clear();
    e->booted = false;
    e->was_reset = false;
    e->traps.clear();
    e->line_faults = config.line;
    line_faults_seed(&e->line_faults, config.line.seed);
    e->watch_addresses.clear();
    e->watch_times.clear();
    host_link_init_queue(&e->host);
    e->host.adapter = config.adapter;
    ctc_init(&e->ctc);
    usart_init(&e->usart, &e->host, &e->ctc, &e->line_faults);
    e->usart.max_baud = config.max_baud;
    disk_init(&e->disk, config.tracks, config.sides);
    e->disk.present = config.disk_present;
    e->disk.write_protected = config.write_protected;
    wd1770_init(&e->fdc);
    e->fdc.faults = config.faults;
    e->fdc.faults.weak.insert(e->fdc.faults.weak.end(), config.weak_sectors.begin(), config.weak_sectors.end());
    einstein_select_drive(e, 0);
    screen_init(&e->screen);
    e->cpu = z80ex_create(read_memory, e, write_memory, e, read_port, e, write_port, e, read_interrupt_vector, e);
    mos_install(e);
}

void einstein_disk_work(Einstein* e, DiskWork work, int track, int side)
{
    DiskTimes& d = e->disk_times;
    if (work != DiskWork::None) (work == DiskWork::Writing ? d.sides_written : d.sides_read).insert({track, side});
    if (work == d.now) return;
    if (d.now != DiskWork::None) {
        bool writing = d.now == DiskWork::Writing;
        (writing ? d.writing : d.reading) += e->clock - d.since;
        (writing ? d.writing_index_pulses : d.reading_index_pulses) +=
            e->clock / FDC_REVOLUTION_TSTATES - d.since / FDC_REVOLUTION_TSTATES;
    }
    d.now = work;
    d.since = e->clock;
}

void einstein_fdc_command(Einstein* e, std::uint8_t command, std::uint64_t at)
{
    int kind = command >> 4;
    if (kind == WD_READ_SECTOR || kind == WD_READ_SECTOR + 1)
        einstein_disk_work(e, DiskWork::Reading, e->fdc.head_track, e->fdc.side);
    else if (kind == WD_WRITE_SECTOR || kind == WD_WRITE_SECTOR + 1)
        einstein_disk_work(e, DiskWork::Writing, e->fdc.head_track, e->fdc.side);
    wd1770_write(&e->fdc, WD_REG_STATUS_COMMAND, command, at);
}

void einstein_select_drive(Einstein* e, std::uint8_t latch)
{
    e->drive_latch = latch;
    FloppyDisk* disk = (latch & 0x0F) == LATCH_DRIVE0 ? &e->disk : nullptr;
    wd1770_select(&e->fdc, disk, (latch & LATCH_SIDE1) ? 1 : 0);
}

void einstein_destroy(Einstein* e)
{
    if (e->cpu) z80ex_destroy(cpu_of(e));
    e->cpu = nullptr;
    host_link_close(&e->host);
}

bool einstein_use_pty(Einstein* e)
{
    return host_link_init_pty(&e->host);
}

StopReason einstein_catch_up(Einstein* e, double seconds)
{
    e->usart.hold_host = true;
    StopReason why = einstein_run(e, static_cast<std::uint64_t>(seconds * CPU_HZ), false);
    e->usart.hold_host = false;
    return why;
}

void einstein_trap(Einstein* e, std::uint16_t address, std::function<void(Einstein*)> action)
{
    e->traps.emplace_back(address, std::move(action));
}

// The arranged reset: the program is gone, the monitor's prompt comes back
// and the monitor does not listen to the line.
static void reset_to_monitor(Einstein* e)
{
    e->was_reset = true;
    fill_unwritten(e, 0x0100, 0xFB00);
    usart_reset(&e->usart, e->clock);
    ctc_init(&e->ctc);  // the monitor sets the line up again
    wd1770_reset(&e->fdc, e->clock);
    einstein_select_drive(e, 0);
    for (const char* c = "\r\nREADY\r\n>"; *c; ++c) screen_put(&e->screen, *c);
}

void einstein_load(Einstein* e, std::uint16_t address, const std::uint8_t* bytes, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) e->ram[static_cast<std::uint16_t>(address + i)] = bytes[i];
}

void einstein_start(Einstein* e, std::uint16_t pc, std::uint16_t sp)
{
    Z80EX_CONTEXT* cpu = cpu_of(e);
    z80ex_reset(cpu);
    z80ex_set_reg(cpu, regPC, pc);
    z80ex_set_reg(cpu, regSP, sp);
    e->stop = StopReason::Limit;
}

std::uint16_t einstein_pc(const Einstein* e)
{
    return z80ex_get_reg(cpu_of(e), regPC);
}

int einstein_watch(Einstein* e, std::uint16_t address)
{
    e->watch_addresses.push_back(address);
    e->watch_times.push_back(UINT64_MAX);
    return static_cast<int>(e->watch_addresses.size()) - 1;
}

std::uint64_t einstein_watch_time(const Einstein* e, int index)
{
    return e->watch_times[static_cast<std::size_t>(index)];
}

StopReason einstein_run(Einstein* e, std::uint64_t max_tstates, bool stop_when_starved)
{
    Z80EX_CONTEXT* cpu = cpu_of(e);
    std::uint64_t limit = e->clock + max_tstates;
    e->stop = StopReason::Limit;
    if (e->was_reset) return e->stop = StopReason::Reset;
    while (e->clock < limit) {
        if (e->clock >= e->config.reset_at) {
            reset_to_monitor(e);
            return e->stop = StopReason::Reset;
        }
        std::uint16_t pc = z80ex_get_reg(cpu, regPC);
        std::uint64_t overruns = e->usart.overruns;  // (the instruction's port accesses move the line too)
        for (std::size_t i = 0; i < e->watch_addresses.size(); ++i)
            if (e->watch_addresses[i] == pc && e->watch_times[i] == UINT64_MAX) e->watch_times[i] = e->clock;
        for (auto& [address, action] : e->traps)
            if (address == pc) action(e);
        if (pc == mos::CALL_ENTRY) {
            mos_call(e);
        } else {
            e->clock += static_cast<std::uint64_t>(z80ex_step(cpu));
            if (z80ex_doing_halt(cpu)) e->stop = StopReason::Halted;
        }
        std::uint64_t arrived = e->usart.rx_arrived, arrived_tstates = e->usart.rx_arrived_tstates;
        usart_advance(&e->usart, e->clock);
        if (e->usart.overruns != overruns && e->first_overrun_at == UINT64_MAX) {
            e->first_overrun_at = e->clock;
            e->first_overrun_pc = pc;
        }
        wd1770_advance(&e->fdc, e->clock);
        if (e->usart.rx_arrived != arrived && wd1770_busy(&e->fdc)) {  // the line and the disk at work together
            e->overlap_bytes += e->usart.rx_arrived - arrived;
            e->overlap_tstates += e->usart.rx_arrived_tstates - arrived_tstates;
        }
        if (e->usart.starved && (e->usart.tx_in_flight || e->usart.tx_holding >= 0)) e->usart.starved = false;
        // Polling the line between a sector or track command's data requests
        // is no wait for the PC.
        if (e->usart.starved && wd1770_data_command(&e->fdc)) e->usart.starved = false;
        if (e->stop != StopReason::Limit) return e->stop;
        // Starved: polling for a byte the PC has not sent, with nothing of
        // ours still on its way to the PC (the PC may be waiting for it).
        if (e->usart.starved && !e->usart.tx_in_flight && e->usart.tx_holding < 0) {
            e->usart.starved = false;
            if (stop_when_starved) return e->stop = StopReason::Starved;
        }
    }
    return e->stop;
}

bool einstein_boot(Einstein* e)
{
    auto error = [e](const char* text) {
        for (const char* c = text; *c; ++c) screen_put(&e->screen, *c);
        e->stop = StopReason::Monitor;
        return false;
    };
    if (!e->disk.present) return error("\r\nNO DISK\r\n");
    DiskSector* header = disk_find_sector(&e->disk, 0, 0, 0);
    if (header == nullptr || header->data.size() < 7) return error("\r\nDISK ERROR\r\n");
    const std::uint8_t* h = header->data.data();
    std::uint16_t start = static_cast<std::uint16_t>(h[0] | h[1] << 8);
    std::uint16_t end = static_cast<std::uint16_t>(h[2] | h[3] << 8);
    std::uint16_t entry = static_cast<std::uint16_t>(h[4] | h[5] << 8);
    std::uint8_t drive_type = h[6];
    e->ram[mos::mos_drive_config] = drive_type;
    int per_track = (drive_type & 0x01) ? 20 : 10;
    std::uint32_t destination = start;
    for (int n = 0; destination < end; ++n) {
        int track = n / per_track, id = n % per_track;
        DiskSector* s = disk_find_sector(&e->disk, track, id >= 10 ? 1 : 0, id);
        if (s == nullptr) return error("\r\nDISK ERROR\r\n");
        for (std::size_t i = 0; i < s->data.size() && destination < 0x10000; ++i)
            e->ram[destination++] = s->data[i];
        e->clock += FDC_REVOLUTION_TSTATES / 5;
    }
    einstein_start(e, entry, 0xFCFF);
    e->booted = true;
    z80ex_set_reg(cpu_of(e), regIFF1, 1);
    z80ex_set_reg(cpu_of(e), regIFF2, 1);
    return true;
}
