// A raw pseudo-terminal pair for tests: the program's side is the slave, the
// test plays the peer on the master.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    int master() const { return master_; }
    const std::string& slavePath() const { return slavePath_; }
    // Opens another descriptor on the slave (for SerialPort::Adopt).
    int OpenSlave() const;
    // Makes `<device root>/dev/<name>` a link to the slave.
    void LinkAs(const std::string& deviceRoot, const std::string& name) const;

    // Peer side: write all bytes; read what arrives within `timeoutMs`.
    void PeerWrite(const std::vector<uint8_t>& bytes) const;
    std::vector<uint8_t> PeerRead(size_t atLeast, int timeoutMs) const;
    // Closes the master: the program's side sees a hang-up.
    void HangUp();

private:
    int master_ = -1;
    int keepSlave_ = -1;  // keeps the line open so the master never sees EIO early
    std::string slavePath_;
};

}  // namespace testsupport
