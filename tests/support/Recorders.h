#pragma once

#include "timing/Chronometer.h"

#include <QStringList>
#include <utility>
#include <vector>

// Records what the chronometer hands to its outputs.
class RecordingDisplay : public IDisplayOutput
{
public:
    void ShowTime(int row, qint32 value) override { calls.emplace_back(row, value); }
    std::vector<std::pair<int, qint32>> calls;
};

class RecordingCapture : public ICaptureOutput
{
public:
    void AppendCapture(const QString &t) override { texts << t; }
    QStringList texts;
};
