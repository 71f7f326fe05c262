#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include "core/progress.h"

// Keeps every progress line an action writes, for tests that read them back.
struct RecordingSink : kavelon::ProgressSink {
    struct Line {
        QString text;
        int colour;
        bool bold;
    };
    QList<Line> lines;

    void SchrijfVoortgang(const QString& text, int colour, bool bold) override {
        lines.append({text, colour, bold});
    }
    QStringList texts() const {
        QStringList result;
        for (const Line& line : lines) result.append(line.text);
        return result;
    }
};
