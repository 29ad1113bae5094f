#pragma once

#include <string>

// The simulated device: a pseudo-terminal whose slave a reader opens. The slave stays open here
// too, so the master never sees a hang-up while no reader has it open.
class CPtyLink {
public:
    CPtyLink() = default;
    ~CPtyLink();
    CPtyLink(const CPtyLink &) = delete;
    CPtyLink &operator=(const CPtyLink &) = delete;

    // Opens a new pseudo-terminal (raw, non-blocking master), or takes the one Unplug set
    // aside; on failure sets error.
    bool Open(std::string &error);
    // Closing both sides is what a reader sees as the receiver being unplugged.
    void Close();
    // Closes, having first set aside the pseudo-terminal the next Open takes, so the receiver
    // comes back under a new number: a reader never reopens the number that went away.
    bool Unplug(std::string &error);

    // Points link at the slave through a temporary link renamed over it.
    bool PointLink(const std::string &link, std::string &error) const;

    // The baud rate the reader set on its side of the line, 0 when unknown.
    int ReaderBaud() const;

    int Master() const { return m_master; }
    const std::string &SlavePath() const { return m_slavePath; }

private:
    struct Pair {
        int master = -1;
        int slave = -1;
        std::string slavePath;
    };
    static bool OpenPair(Pair &pair, std::string &error);
    static void ClosePair(Pair &pair);

    int m_master = -1;
    int m_slave = -1;
    std::string m_slavePath;
    Pair m_next;
};
