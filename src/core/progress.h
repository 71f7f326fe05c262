#pragma once

#include <QString>

namespace kavelon {

// Colours of progress lines as 24-bit numbers with red in the low byte.
inline constexpr int kZwart = 0;
inline constexpr int kRood = 255;
inline constexpr int kBlauw = 16711680;

// Where the steps of an action report: the progress box in the window, a buffer in tests.
class ProgressSink {
  public:
    virtual ~ProgressSink() = default;
    virtual void SchrijfVoortgang(const QString& text, int colour, bool bold) = 0;
};

// Lets pending window events be processed during long loops; does nothing without a window.
class EventPump {
  public:
    virtual ~EventPump() = default;
    virtual void ProcessPendingEvents() = 0;
};

}  // namespace kavelon
