#pragma once
// The chart's own misuse messages ("Incorrect PointData call", "Axis limits not
// defined", ...): a modal stop box titled "Lumora", after which the call goes on.
// Tests replace the box by a sink that records the texts.

#include <functional>
#include <string>

class QWidget;

namespace lumora {

using ChartMessageSink = std::function<void(const std::string& text)>;

/// Routes the chart's messages to `sink`; an empty sink restores the message box.
void SetChartMessageSink(ChartMessageSink sink);

/// Shows one message (text followed by two blanks, critical icon, OK button).
void ShowChartMessage(QWidget* parent, const std::string& text);

} // namespace lumora
