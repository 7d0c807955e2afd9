#pragma once

#include "run/watch.h"

#include <memory>
#include <optional>
#include <QFrame>
#include <QList>

class QLabel;
class QProgressBar;
class QPushButton;

namespace tqb9 {

// One port of the station window: its PortWatch, and what the operator reads of it. The watch's
// signals only change what the tile holds; the widgets follow in refresh(), which the window calls
// at most a few times a second, so sixteen ports writing at once cost the window little.
class PortTile : public QFrame {
    Q_OBJECT
public:
    static constexpr int kWidth = 240;

    // device: what the port led to when it was chosen, shown beside it.
    PortTile(Run::Setup setup, const QString& device, PortWatch::Timing timing,
             QWidget* parent = nullptr);
    ~PortTile() override;

    const Run::Setup& setup() const { return m_setup; }
    PortWatch& watch() { return *m_watch; }
    PortWatch::State state() const { return m_watch->state(); }
    // Writing, or waiting with automatic on, or asked to start: about to use its firmware.
    bool busy() const { return m_watch->busy(); }

    // Another firmware for the runs to come; only while the tile is idle.
    void setFirmware(const Firmware& firmware);

    int completed() const { return m_completed; }
    int failed() const { return m_failed; }

    // The widgets show what the tile holds now.
    void refresh();

    QLabel* stateLabel() const { return m_state; }
    QLabel* detailLabel() const { return m_detail; }
    QLabel* countsLabel() const { return m_counts; }
    QProgressBar* bar() const { return m_bar; }
    QPushButton* startButton() const { return m_start; }
    QPushButton* stopButton() const { return m_stop; }
    QPushButton* removeButton() const { return m_remove; }

signals:
    // What it holds changed: the window calls refresh() soon.
    void changed();
    void runFinished(const tqb9::RunReport& report);
    void stateChanged(tqb9::PortWatch::State state);
    void startPressed();
    void removePressed();

private:
    void makeWatch();

    Run::Setup m_setup;
    PortWatch::Timing m_timing;
    std::unique_ptr<PortWatch> m_watch;

    // What the widgets show at the next refresh.
    Step m_step = Step::Query;
    int m_blocksDone = 0;
    int m_blocksTotal = 0;
    double m_writeSeconds = 0;
    // The outcome held on the tile until the radio is removed or the next run starts.
    std::optional<RunReport> m_outcome;
    int m_completed = 0;
    int m_failed = 0;

    QLabel* m_title = nullptr;
    QLabel* m_state = nullptr;
    QProgressBar* m_bar = nullptr;
    QLabel* m_detail = nullptr;
    QLabel* m_counts = nullptr;
    QPushButton* m_start = nullptr;
    QPushButton* m_stop = nullptr;
    QPushButton* m_remove = nullptr;
};

} // namespace tqb9
