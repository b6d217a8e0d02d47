#include "sim/serial_adapter.h"

#include <algorithm>
#include <cmath>

namespace {

struct Preset {
    const char* name;
    int cts_lag;
    bool cts_ignored;
    double latency_ms;
    AdapterRates rates;
};

// The chips of the adapters people have (their data sheets and drivers).
const Preset PRESETS[] = {
    {"ideal", 0, false, 0, AdapterRates::Exact},
    {"ftdi", 3, false, 16, AdapterRates::Exact},
    {"cp2102n", 2, false, 0, AdapterRates::Exact},
    {"cp2102", 2, false, 0, AdapterRates::Cp2102},
    {"ch340-linux", 0, true, 0, AdapterRates::Ch340},
    {"16550-fifo", 16, false, 0, AdapterRates::Uart16550},
};

// The CP2101/2/3's rates: a rate asked is made as the first of these at or
// above it.
const double CP2102_TABLE[] = {300,   600,   1200,   1800,   2400,   4000,   4800,   7200,   9600,   14400,
                               16000, 19200, 28800,  38400,  51200,  56000,  57600,  64000,  76800,  115200,
                               128000, 153600, 230400, 250000, 256000, 460800, 500000, 576000, 921600};

}  // namespace

bool adapter_preset(const std::string& name, SerialAdapter* adapter)
{
    for (const Preset& p : PRESETS) {
        if (name != p.name) continue;
        adapter->cts_lag = p.cts_lag;
        adapter->cts_ignored = p.cts_ignored;
        adapter->usb_latency_s = p.latency_ms / 1000.0;
        adapter->rates = p.rates;
        return true;
    }
    return false;
}

const char* adapter_preset_list()
{
    return "                         ideal        stops at once, no latency, any rate\n"
           "                         ftdi         3 bytes late, 16 ms latency, any rate\n"
           "                         cp2102n      2 bytes late, any rate\n"
           "                         cp2102       2 bytes late, the CP2102's rate table\n"
           "                         ch340-linux  CTS ignored, 9615 for 9600\n"
           "                         16550-fifo   16 bytes late, 115200/n\n";
}

bool adapter_rates_named(const std::string& name, AdapterRates* rates)
{
    if (name == "exact") *rates = AdapterRates::Exact;
    else if (name == "16550") *rates = AdapterRates::Uart16550;
    else if (name == "cp2102") *rates = AdapterRates::Cp2102;
    else if (name == "ch340") *rates = AdapterRates::Ch340;
    else return false;
    return true;
}

double adapter_rate_made(const SerialAdapter* adapter, double asked)
{
    switch (adapter->rates) {
    case AdapterRates::Exact: return asked;
    case AdapterRates::Uart16550: {
        double divisor = std::max(1.0, std::round(115200.0 / asked));
        return 115200.0 / divisor;
    }
    case AdapterRates::Cp2102:
        for (double rate : CP2102_TABLE)
            if (rate >= asked * 0.999) return rate;
        return CP2102_TABLE[sizeof CP2102_TABLE / sizeof CP2102_TABLE[0] - 1];
    case AdapterRates::Ch340: return std::abs(asked - 9600.0) < 1 ? 125000.0 / 13 : asked;
    }
    return asked;
}

void adapter_cts_off(SerialAdapter* adapter, std::uint64_t now, std::uint64_t line_free, std::uint64_t byte_tstates)
{
    adapter->lag_left = adapter->cts_lag;
    adapter->lag_until = std::max(now, line_free) + static_cast<std::uint64_t>(adapter->cts_lag) * byte_tstates;
}

bool adapter_may_start(SerialAdapter* adapter, bool cts, std::uint64_t now)
{
    if (cts) return true;
    if (!adapter->cts_ignored) {
        if (adapter->lag_left <= 0 || now >= adapter->lag_until) return false;
        adapter->lag_left--;
    }
    adapter->late_bytes++;
    return true;
}

bool adapter_hold_byte(SerialAdapter* adapter, std::uint8_t byte, double wall)
{
    double latency = adapter->usb_latency_s;
    if (adapter->packet.empty() && latency > 0)  // it goes when the timer next runs out
        adapter->packet_due = adapter->timer_from + (std::floor((wall - adapter->timer_from) / latency) + 1) * latency;
    adapter->packet.push_back(byte);
    if (latency <= 0 || adapter->packet.size() >= static_cast<std::size_t>(USB_PACKET_BYTES)) {
        adapter->timer_from = wall;  // a full packet restarts the timer
        adapter->packets++;
        return true;
    }
    return false;
}

bool adapter_packet_due(SerialAdapter* adapter, double wall)
{
    if (adapter->packet.empty() || wall < adapter->packet_due) return false;
    adapter->timer_from = adapter->packet_due;
    adapter->packets++;
    return true;
}

double adapter_packet_wait(const SerialAdapter* adapter, double wall)
{
    if (adapter->packet.empty()) return 1e9;
    return std::max(0.0, adapter->packet_due - wall);
}
