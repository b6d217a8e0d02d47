#include "sim/ctc.h"

void ctc_init(Ctc* ctc)
{
    *ctc = Ctc{};
    for (int& n : ctc->time_constant) n = 256;
    ctc->time_constant[CTC_TRANSMIT_CHANNEL] = CTC_MONITOR_CONSTANT;
    ctc->time_constant[CTC_RECEIVE_CHANNEL] = CTC_MONITOR_CONSTANT;
}

void ctc_write(Ctc* ctc, int channel, std::uint8_t value)
{
    channel &= 3;
    if (channel >= 2) ctc->clock_writes++;
    if (ctc->constant_next[channel]) {
        ctc->time_constant[channel] = value == 0 ? 256 : value;
        ctc->constant_next[channel] = false;
    } else if (value & CTC_CONTROL_WORD) {
        ctc->constant_next[channel] = (value & CTC_CONSTANT_FOLLOWS) != 0;
    }
}

double ctc_line_baud(const Ctc* ctc, int channel)
{
    return 2000000.0 / 16.0 / ctc->time_constant[channel & 3];
}
