#pragma once

#include "collector/CgroupDirectory.h"
#include "collector/ConnectedPrefixes.h"
#include "collector/CounterBook.h"
#include "collector/ServiceLog.h"
#include "collector/TrafficProgram.h"
#include "platform/linux/UniqueFd.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <unordered_map>

#include <sys/types.h>

namespace quantiro::collector {

struct CollectorSettings {
    std::string version;      // told to STATUS
    std::string socketPath;   // where readers connect
    std::string cgroupRoot;   // the cgroup2 mount
    std::string attachCgroup; // where the programs sit; the root unless told otherwise
    // The cgroup whose children are the users' slices; empty: user.slice below the root.
    std::string usersCgroup;
    TableSizes tables;
    bool verboseLoader = false; // libbpf's informational lines too, not its warnings only
};

// The counting service: one thread waiting on the new cgroups' ring buffer, the
// rtnetlink notifications, the listening socket and its readers. Nothing a reader
// does can hold it: their sockets never block, their number is bounded per user and
// in all (root keeping room of its own), they are answered in turn, one question
// each a turn, with at most one answer each waiting to be taken, and one that goes
// quiet with nothing asked is dropped. One service a socket: a second one started on
// it ends at once, and never unlinks a socket that answers.
class CollectorService {
public:
    // Loads and attaches the programs and listens; throws std::runtime_error, its text
    // in Polish. Refusals and failures it goes on after are told to `log`.
    CollectorService(const CollectorSettings& settings, ServiceLog& log);
    ~CollectorService();
    CollectorService(const CollectorService&) = delete;
    CollectorService& operator=(const CollectorService&) = delete;

    // Serves until a signal arrives on `stopDescriptor` (a signalfd).
    void Run(int stopDescriptor);

private:
    struct CountersAsked {
        std::uint64_t netnsCookie = 0;
        std::uint32_t ifindex = 0;
        std::uint64_t pass = 0;
    };
    using SharedAnswer = std::shared_ptr<const std::string>;
    struct Reader {
        platform::linux_impl::UniqueFd fd;
        std::uint32_t uid = 0;
        pid_t pid = 0;                 // its process when it connected
        std::uint64_t netnsCookie = 0; // the namespace its socket was made in
        std::string input;             // up to its first whole line; the rest waits in its socket
        SharedAnswer answer;           // the one answer it has not taken yet, or none
        std::size_t answerSent = 0;
        std::uint32_t watched = 0;                          // the events epoll tells of it now
        bool finished = false;                              // it sent all it will send
        bool closing = false;                               // once its answer is taken
        bool queued = false;                                // a question of its waits for its turn
        std::chrono::steady_clock::time_point lastProgress; // it sent or took bytes
        // The interface it asked about last, and the counter book's pass then: the
        // book folds an owner once each reader asking about its interface read it.
        std::optional<CountersAsked> asked;
    };

    // Adds a descriptor the loop reads, with its tag; throws when epoll refuses it.
    void Watch(int fd, std::uint64_t tag);
    void Accept();
    // Why a new connection of `uid` finds no room, or nullopt when it does.
    std::optional<std::string> NoRoomFor(std::uint32_t uid) const;
    void Serve(int fd, std::uint32_t events);
    // Answers the first question of each reader waiting, in the order they came.
    void ServeTurn();
    // Takes what the reader sent, up to its first whole line or a line's limit; false
    // when its socket failed.
    static bool ReceiveInput(int fd, Reader& reader);
    // Whether what is left of its input is a last line without a newline, to answer.
    static bool LastLineWaits(const Reader& reader);
    static bool HasQuestion(const Reader& reader);
    // Answers its first question.
    void AnswerOne(Reader& reader);
    // Writes what the socket takes of its answer now; false when its socket failed.
    static bool SendAnswer(int fd, Reader& reader);
    // After whatever happened to it: closes it, queues its next question, or tells
    // epoll what it waits for now.
    void Settle(int fd, Reader& reader);
    void Close(int fd);
    SharedAnswer Answer(std::string_view line, Reader& reader);
    // The oldest pass a reader asking about the interface was answered in.
    std::optional<std::uint64_t> OldestAnswer(std::uint64_t netnsCookie,
                                              std::uint32_t ifindex) const;
    platform::linux_impl::CollectorStatus Status();
    // A user's own local prefixes, applied whole or not at all: the old set stays
    // until the new one is in. `user` groups a user's uids, which share one bound.
    std::string SetUserPrefixes(std::uint32_t uid, const std::string& user,
                                const std::set<IpPrefix>& prefixes);
    // The user a reader's prefixes count against: its slice below the users' cgroup,
    // whichever of the user's uids it runs as; else its uid.
    std::string UserOf(const Reader& reader) const;
    void RefreshConnected();
    void DropIdleReaders();

    ServiceLog& m_log;
    std::string m_socketPath;
    platform::linux_impl::UniqueFd m_claim; // the lock beside the socket, taken first
    std::string m_version;
    std::int64_t m_startedAt; // seconds since the epoch
    std::string m_runId;
    std::uint64_t m_ownNetnsCookie = 0;
    platform::linux_impl::UniqueFd m_listener;
    platform::linux_impl::UniqueFd m_epoll;
    CgroupDirectory m_cgroups;
    TrafficProgram m_program;
    CounterBook m_book;
    ConnectedPrefixes m_connectedSource;
    ConnectedNetworks m_connected; // as the maps hold it
    std::string m_usersCgroup;     // below the cgroup2 mount, "/user.slice"
    struct UserPrefixes {
        std::string user; // see UserOf
        std::set<IpPrefix> prefixes;
    };
    std::map<std::uint32_t, UserPrefixes> m_userPrefixes; // by uid, as the trie scopes them
    std::unordered_map<int, Reader> m_readers;
    std::unordered_map<std::uint32_t, std::size_t> m_readersOfUser;
    std::deque<int> m_turns; // readers with a question waiting, first come first
    // The counters answers of the turn running, by namespace, interface and uid: readers
    // asking the same in one turn share one read of the map and one copy of the answer.
    std::map<std::tuple<std::uint64_t, std::uint32_t, std::uint32_t>, SharedAnswer> m_turnAnswers;
};

} // namespace quantiro::collector
