// serial_termios.h - the mapping between the serial setting codes and termios,
// inside the Linux platform layer (serial.cpp) and its tests only.
// Implementation: serial_settings.cpp.
#pragma once
#include <termios.h>

// The line settings that have codes and live in the termios record.
enum lvComSetting {
    LVCOM_SETTING_BAUD = 0,      // baud codes
    LVCOM_SETTING_DATABITS = 1,  // data-bits codes
    LVCOM_SETTING_PARITY = 2,    // parity codes
    LVCOM_SETTING_STOPBITS = 3,  // stop-bits codes
    LVCOM_SETTING_FLOW = 4,      // flow-control codes (the termios half; the RTS line is separate)
};

// Raw mode: no byte changed, added or swallowed on the way in or out, no
// signals, no echo, 8 data bits, receiver on, modem control lines ignored.
void MakeComRaw(termios *attr);
// Changes attr for one setting to the code's value; false (attr unchanged) when
// the code lies outside the setting's table.
bool ApplyComSetting(termios *attr, int setting, int code);
// The code that attr has for the setting, or LV_SERIAL_UNKNOWN when no code names it.
int ReadComSetting(const termios *attr, int setting);
// The line rate of a baud code (300 ... 460800), 0 for a code outside the table.
int GetComBaudRate(int code);

// How long a flush waits for an output queue that does not move: twenty characters
// of eleven bits at the line's rate (9600 for rate 0), at least 500 ms.
int GetComDrainStallMillis(int rate);
// Waits while queued(context) reports bytes, looking every few milliseconds, and
// gives up once the count has not fallen for stallMillis, so a line held by flow
// control cannot hold its caller while a slow line that moves is waited for.
// 1 when the queue emptied, 0 when it gave up or queued() failed (returned < 0).
int WaitForQueueDrain(int (*queued)(void *context), void *context, int stallMillis);
