// program_probe.cpp - TOBRIN's program watched through its labels.
#include "sim/program_probe.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "target/target_program.h"

namespace label = target_program_image_labels;

static BlockWatch block_watch;

const BlockWatch& probe_blocks()
{
    return block_watch;
}

static std::uint16_t word_at(const Einstein* m, std::uint16_t a)
{
    return static_cast<std::uint16_t>(m->ram[a] | m->ram[a + 1] << 8);
}

// A block of the stream (the stream area) is taken with a changed byte
// when one was stored within it.
static void stream_block_taken(Einstein* m)
{
    std::uint16_t at = word_at(m, label::packed_at);
    std::uint16_t first = word_at(m, label::stream_read);
    std::uint16_t end = static_cast<std::uint16_t>(at + (word_at(m, first) & 0x7FFF));
    auto changed = m->changed_stores.lower_bound(first);
    if (changed != m->changed_stores.end() && *changed < end) block_watch.compressed_taken_changed++;
}

// A compressed block taken in its batch (lay_mark_clean, or
// packed_taken_filler for the filler: the two ways on from its take).
static void compressed_block_taken(Einstein* m)
{
    std::uint16_t at = word_at(m, label::packed_at);
    if (at >= label::ahead_records && at < label::ahead_records + 4 * label::BATCH_SECTORS) return;  // judged ahead
    if (at == label::packed_block) {  // one received by itself
        if (m->usart.corrupted_taken > block_watch.changed_at_start) block_watch.compressed_taken_changed++;
        return;
    }
    stream_block_taken(m);
}

static void watch_blocks(Einstein* e)
{
    // A new block, and each new pass of a full block: only the pass that is
    // taken counts.
    for (std::uint16_t start : {label::recv_block, label::recv_block_pass})
        einstein_trap(e, start, [](Einstein* m) { block_watch.changed_at_start = m->usart.corrupted_taken; });
    einstein_trap(e, label::recv_block_agreed, [](Einstein* m) {
        if (m->usart.corrupted_taken > block_watch.changed_at_start) block_watch.full_taken_changed++;
    });
    einstein_trap(e, label::recv_block_filled, [](Einstein* m) {
        if (m->usart.corrupted_taken > block_watch.changed_at_start) block_watch.fill_taken_changed++;
    });
    einstein_trap(e, label::packed_pass, [](Einstein* m) { block_watch.changed_at_start = m->usart.corrupted_taken; });
    // The stream begins anew with each batch's work, and so does each
    // stream of a batch's rest, sent after its batch byte.
    for (std::uint16_t start : {label::packed_received, label::stream_follow})
        einstein_trap(e, start, [](Einstein* m) { m->changed_stores.clear(); });
    // A block judged ahead (while the rest of its stream came) is looked
    // at as it is judged; its record is taken later.
    einstein_trap(e, label::ahead_judged, stream_block_taken);
    einstein_trap(e, label::lay_mark_clean, compressed_block_taken);
    einstein_trap(e, label::packed_taken_filler, compressed_block_taken);
}

ProgramProbe probe_program(Einstein* e, bool faults_from_start)
{
    block_watch = BlockWatch{};
    ProgramProbe probe{};
    probe.at_program = einstein_watch(e, label::program_start);
    probe.at_format = einstein_watch(e, label::format_disk);
    probe.at_laid_format = einstein_watch(e, label::lay_format);
    probe.at_write = einstein_watch(e, label::write_image);
    watch_blocks(e);
    if (!faults_from_start) {
        e->line_faults.active = false;
        einstein_trap(e, label::program_start, [](Einstein* m) { m->line_faults.active = true; });
    }
    return probe;
}

std::uint64_t probe_format_time(const Einstein* e, const ProgramProbe& probe)
{
    return std::min(einstein_watch_time(e, probe.at_format), einstein_watch_time(e, probe.at_laid_format));
}

bool probe_format_laid(const Einstein* e, const ProgramProbe& probe)
{
    return einstein_watch_time(e, probe.at_laid_format) != UINT64_MAX;
}

// A protocol event: the program at its label (the n-th time), then so many
// bytes sent by the Einstein, then the byte changed - the Einstein's next,
// or the PC's next.
struct ProtocolEvent {
    const char* name;
    std::uint16_t label, other_label;  // where the event begins (either label)
    int einstein_bytes_before;         // the Einstein's bytes that go first
    bool einstein_byte;                // the Einstein's byte is changed, else the PC's
};
static const ProtocolEvent EVENTS[] = {
    {"format-status", label::format_disk, label::lay_format, 0, true},
    {"drive-flags", label::write_image, label::write_image, 0, true},
    {"follow-answer", label::stream_follow, label::stream_follow, 0, true},
    {"stage-checksum", label::load_stage_two, label::load_stage_two, 1, false},  // after the Einstein's checksum
    {"record-answer", label::read_record, label::read_record, 0, false},
    {"record-fill-value", label::read_record, label::read_record, 6, true},     // after the head and the marker
};

static struct {
    const ProtocolEvent* event = nullptr;
    int arrivals_left = 0;   // times the label is still to be reached
    int bytes_left = 0;      // the Einstein's bytes still to go first, once armed
    bool armed = false;
    bool changed = false;
} event_fault;

// The PC's next byte on the line is changed.
static void change_next_from_pc(Einstein* m)
{
    m->line_faults.change_byte_to = m->line_faults.counted_to;
    event_fault.armed = false;
    event_fault.changed = true;
}

static void event_reached(Einstein* m)
{
    if (event_fault.armed || event_fault.changed || --event_fault.arrivals_left > 0) return;
    event_fault.armed = true;
    event_fault.bytes_left = event_fault.event->einstein_bytes_before;
    if (!event_fault.event->einstein_byte && event_fault.bytes_left == 0) change_next_from_pc(m);
}

static void event_send(Einstein* m, std::uint8_t* byte)
{
    if (!event_fault.armed) return;
    if (event_fault.bytes_left > 0) {
        if (--event_fault.bytes_left == 0 && !event_fault.event->einstein_byte) change_next_from_pc(m);
        return;
    }
    *byte = static_cast<std::uint8_t>(*byte ^ 0x5A);  // at its source: as the line would
    m->line_faults.corrupted_from++;
    event_fault.armed = false;
    event_fault.changed = true;
}

bool probe_change_at(Einstein* e, const char* wanted)
{
    std::string name = wanted;
    int n = 1;
    if (std::size_t colon = name.find(':'); colon != std::string::npos) {
        n = std::atoi(name.c_str() + colon + 1);
        name.resize(colon);
    }
    for (const ProtocolEvent& event : EVENTS) {
        if (name != event.name || n < 1) continue;
        event_fault.event = &event;
        event_fault.arrivals_left = n;
        einstein_trap(e, event.label, event_reached);
        if (event.other_label != event.label) einstein_trap(e, event.other_label, event_reached);
        e->on_send = event_send;
        return true;
    }
    return false;
}

const char* probe_event_changed()
{
    return event_fault.changed ? event_fault.event->name : nullptr;
}
