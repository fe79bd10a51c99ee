#include "tests/hid/uhid_emulator.h"

#include <fcntl.h>
#include <linux/uhid.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "sim/catalog.h"
#include "sim/gauge.h"

namespace kestran::hid {
namespace {

struct Options {
    std::string pack;
    std::string log;
    std::string control;
};

bool parse(int argc, char** argv, Options& options)
{
    for (int n = 1; n < argc; ++n) {
        const std::string_view arg = argv[n];
        if ((arg == "--log" || arg == "--control") && n + 1 < argc)
            (arg == "--log" ? options.log : options.control) = argv[++n];
        else if (!arg.starts_with("-") && options.pack.empty())
            options.pack = arg;
        else
            return false;
    }
    return !options.pack.empty();
}

bool writeEvent(int fd, const uhid_event& event)
{
    const ssize_t written = write(fd, &event, sizeof event);
    if (written != static_cast<ssize_t>(sizeof event)) {
        std::fprintf(stderr, "emulator: writing to /dev/uhid: %s\n", written < 0 ? std::strerror(errno) : "short write");
        return false;
    }
    return true;
}

bool create(int fd, const ChipIdentity& chip)
{
    uhid_event event{};
    event.type = UHID_CREATE2;
    uhid_create2_req& create = event.u.create2;
    std::snprintf(reinterpret_cast<char*>(create.name), sizeof create.name, "%.*s", static_cast<int>(chip.name.size()),
                  chip.name.data());
    std::snprintf(reinterpret_cast<char*>(create.phys), sizeof create.phys, "kestran-emulator");
    create.bus = 0x03;  // BUS_USB: the drivers match USB devices only
    create.vendor = chip.vendor;
    create.product = chip.product;
    create.version = 0x0100;
    create.rd_size = static_cast<std::uint16_t>(chip.descriptor.size());
    std::copy(chip.descriptor.begin(), chip.descriptor.end(), create.rd_data);
    return writeEvent(fd, event);
}

bool sendInput(int fd, const Report& report)
{
    uhid_event event{};
    event.type = UHID_INPUT2;
    event.u.input2.size = static_cast<std::uint16_t>(std::min<std::size_t>(report.size(), UHID_DATA_MAX));
    std::copy_n(report.begin(), event.u.input2.size, event.u.input2.data);
    return writeEvent(fd, event);
}

// The gauge of the pack the emulator runs; changed by the control FIFO.
struct Wire {
    SmbusTarget& bus;
    std::unique_ptr<sim::SimulatedGauge> gauge;
};

std::unique_ptr<sim::SimulatedGauge> gaugeOf(std::string_view name)
{
    sim::Pack pack;
    std::string error;
    if (!sim::loadPack(name, pack, error)) {
        std::fprintf(stderr, "emulator: %s\n", error.c_str());
        return nullptr;
    }
    return std::make_unique<sim::SimulatedGauge>(std::move(pack), [](unsigned) {});  // the tool sleeps, not the gauge
}

// One line of the control FIFO.
bool obey(std::string_view line, Wire& wire)
{
    SmbusTarget& bus = wire.bus;
    if (line.starts_with("pack ")) {
        if (std::unique_ptr<sim::SimulatedGauge> gauge = gaugeOf(line.substr(5))) {
            bus.use(*gauge);
            wire.gauge = std::move(gauge);
        }
    } else if (line == "absent") {
        bus.setAbsent(true);
    } else if (line == "present") {
        bus.setAbsent(false);
    } else if (line == "good-pec") {
        bus.corruptPecOf(std::nullopt);
    } else if (line.starts_with("bad-pec ")) {
        bus.corruptPecOf(static_cast<int>(std::strtol(std::string(line.substr(8)).c_str(), nullptr, 16)));
    } else if (line == "quit") {
        return false;
    } else if (!line.empty()) {
        std::fprintf(stderr, "emulator: unknown control command '%.*s'\n", static_cast<int>(line.size()), line.data());
    }
    return true;
}

// Answers one event from the kernel; false when the device is gone.
bool answer(int fd, const uhid_event& event, ChipModel& model)
{
    switch (event.type) {
    case UHID_OUTPUT: {
        unsigned delay = 0;
        const std::vector<Report> inputs =
            model.output(std::span(event.u.output.data, std::min<std::size_t>(event.u.output.size, UHID_DATA_MAX)), delay);
        if (delay)
            std::this_thread::sleep_for(std::chrono::microseconds(delay));
        for (const Report& input : inputs)
            if (!sendInput(fd, input))
                return false;
        return true;
    }
    case UHID_GET_REPORT: {
        uhid_event reply{};
        reply.type = UHID_GET_REPORT_REPLY;
        reply.u.get_report_reply.id = event.u.get_report.id;
        const Report report = event.u.get_report.rtype == UHID_FEATURE_REPORT && model.getFeature
                                  ? model.getFeature(event.u.get_report.rnum)
                                  : Report{};
        reply.u.get_report_reply.err = report.empty() ? EIO : 0;
        reply.u.get_report_reply.size = static_cast<std::uint16_t>(report.size());
        std::copy(report.begin(), report.end(), reply.u.get_report_reply.data);
        return writeEvent(fd, reply);
    }
    case UHID_SET_REPORT: {
        uhid_event reply{};
        reply.type = UHID_SET_REPORT_REPLY;
        reply.u.set_report_reply.id = event.u.set_report.id;
        const std::span data(event.u.set_report.data, std::min<std::size_t>(event.u.set_report.size, UHID_DATA_MAX));
        const bool taken = event.u.set_report.rtype == UHID_FEATURE_REPORT && model.setFeature && model.setFeature(data);
        reply.u.set_report_reply.err = taken ? 0 : EIO;
        return writeEvent(fd, reply);
    }
    default:  // START, STOP, OPEN, CLOSE: nothing to answer
        return true;
    }
}

}  // namespace

int runEmulator(int argc, char** argv, const ChipIdentity& chip, const std::function<ChipModel(SmbusTarget&)>& make)
{
    Options options;
    if (!parse(argc, argv, options)) {
        std::fprintf(stderr, "usage: %s [--log FILE] [--control FIFO] PACK\n", argv[0]);
        return 2;
    }
    std::unique_ptr<sim::SimulatedGauge> gauge = gaugeOf(options.pack);
    if (!gauge)
        return 2;
    std::FILE* log = nullptr;
    if (!options.log.empty() && !(log = std::fopen(options.log.c_str(), "w"))) {
        std::fprintf(stderr, "emulator: %s: %s\n", options.log.c_str(), std::strerror(errno));
        return 2;
    }
    // Opened for writing too, so the FIFO never reads as ended between two writers.
    const int control = options.control.empty() ? -1 : open(options.control.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (!options.control.empty() && control < 0) {
        std::fprintf(stderr, "emulator: %s: %s\n", options.control.c_str(), std::strerror(errno));
        return 2;
    }
    SmbusTarget bus(*gauge, log);
    Wire wire{bus, std::move(gauge)};
    ChipModel model = make(bus);

    const int fd = open("/dev/uhid", O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        std::fprintf(stderr, "emulator: /dev/uhid: %s\n", std::strerror(errno));
        return 1;
    }
    if (!create(fd, chip))
        return 1;

    std::string pending;  // a control line not ended yet
    for (bool running = true; running;) {
        pollfd polled[2] = {{.fd = fd, .events = POLLIN, .revents = 0}, {.fd = control, .events = POLLIN, .revents = 0}};
        if (poll(polled, control >= 0 ? 2 : 1, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        // A command first: one written before a run starts applies to all of the run.
        if (control >= 0 && (polled[1].revents & POLLIN)) {
            char chunk[256];
            const ssize_t got = read(control, chunk, sizeof chunk);
            pending.append(chunk, got > 0 ? static_cast<std::size_t>(got) : 0);
            for (std::size_t end; running && (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1))
                running = obey(std::string_view(pending).substr(0, end), wire);
        }
        if (running && (polled[0].revents & POLLIN)) {
            uhid_event event{};
            if (read(fd, &event, sizeof event) <= 0 || !answer(fd, event, model))
                break;
        }
    }
    uhid_event destroy{};
    destroy.type = UHID_DESTROY;
    writeEvent(fd, destroy);
    close(fd);
    return 0;
}

}  // namespace kestran::hid
