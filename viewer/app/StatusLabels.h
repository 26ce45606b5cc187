#pragma once

class QLabel;

namespace window {

// The status rows of the Stats box (created in code, owned by the widget tree).
struct StatusLabels {
    QLabel* device = nullptr;
    QLabel* model = nullptr;
    QLabel* laser = nullptr;
    QLabel* datagramsPerSecond = nullptr;
    QLabel* refused = nullptr;
    QLabel* commandsRefused = nullptr;
    QLabel* kernelDrops = nullptr;
    QLabel* queueDrops = nullptr;
    QLabel* gaps = nullptr;
};

} // namespace window
