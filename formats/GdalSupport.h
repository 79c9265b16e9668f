#pragma once
// What every user of GDAL in this layer needs: its drivers registered once, and its messages kept
// off the terminal while a file is read (they become the reason of a refusal instead).

void RegisterGdal();

/// Silences GDAL's messages while it lives.
class QuietGdal {
public:
    QuietGdal();
    ~QuietGdal();
    QuietGdal(const QuietGdal&) = delete;
    QuietGdal& operator=(const QuietGdal&) = delete;
};
