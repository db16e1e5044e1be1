// tavocom check: reads each library's export table here, then runs the
// steps that load it in children on a scratch registry of their own (a
// fresh version key, and on systems whose hives are files, fresh hive
// files), and prints one line per finding.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "platform/loader.h"
#include "platform/tool_calls.h"
#include "registry/root_path.h"
#include "tools/check/check.h"
#include "tools/check/process.h"
#include "tools/check/snapshot.h"
#include "tools/class_check.h"
#include "tools/command.h"
#include "tools/export_table.h"

namespace tavo::tools {
namespace check {
namespace {

struct Finding {
    std::string verdict, rule, subject, text;
};

std::vector<std::string> Split(const std::string& line) {
    std::vector<std::string> fields;
    std::stringstream in(line);
    for (std::string field; std::getline(in, field, '\t');) fields.push_back(field);
    return fields;
}

// The runtime's own export names, which a component must not export
// besides the four entry points every library has.
std::vector<std::string> RuntimeNames() {
    auto dir = plat::ModuleDirectory("TAVOCOM64", 32768);
    if (!dir) return {};
    try {
        std::vector<std::string> names = ReadExportNames(DisplayPath(*dir + Widen(TAVOCOM_LIBRARY_FILE)));
        std::vector<std::string> own;
        for (const std::string& n : names)
            if (n != "GetClassObject" && n != "CanUnloadNow" && n != "DllRegisterServer" && n != "DllUnregisterServer")
                own.push_back(n);
        return own;
    } catch (const std::exception&) {
        return {};
    }
}

void CheckExports(const std::string& library, const std::vector<std::string>& runtimeNames,
                  std::vector<Finding>* findings) {
    std::vector<std::string> names;
    try {
        names = ReadExportNames(library);
    } catch (const std::exception& e) {
        findings->push_back({"fail", "exports", library, e.what()});
        return;
    }
    auto has = [&](const std::string& name) {
        for (const std::string& n : names)
            if (n == name) return true;
        return false;
    };
    std::string missing;
    for (const char* entry : {"GetClassObject", "CanUnloadNow"})
        if (!has(entry)) missing += std::string(missing.empty() ? "" : ", ") + entry;
    findings->push_back({missing.empty() ? "pass" : "fail", "exports.entry", library,
                         missing.empty() ? "" : "does not export " + missing});
    for (const char* entry : {"DllRegisterServer", "DllUnregisterServer"})
        if (!has(entry))
            findings->push_back({"notice", "exports.registration", library,
                                 std::string("does not export ") + entry + ": its registration is not checked"});
    std::string foreign;
    for (const std::string& n : runtimeNames)
        if (has(n)) foreign += (foreign.empty() ? "" : ", ") + n;
    findings->push_back({foreign.empty() ? "pass" : "fail", "exports.runtime-name", library,
                         foreign.empty() ? "" : "exports the runtime's own " + foreign});
}

// Runs the child steps until one run reaches its end, starting a new child
// after a step that crashed or hung.
void CheckLoaded(Options options, const std::string& library, std::vector<Finding>* findings) {
    static unsigned scratchNumber = 0;
    unsigned resume = 1;
    for (int runs = 0; runs < 200; ++runs) {
        const std::string version = "TAVOCOM-CHECK-" + std::to_string(uint64_t(std::chrono::steady_clock::now().time_since_epoch().count())) +
                                    "-" + std::to_string(++scratchNumber);
        std::error_code ignored;
        const std::filesystem::path dir = std::filesystem::temp_directory_path(ignored) / version;
        std::filesystem::create_directories(dir, ignored);
        const std::string machine = (dir / "machine.db").string(), user = (dir / "user.db").string();
        SetVariable(registry::kVersionVariable, version);
        SetVariable("TAVOCOM_MACHINE_HIVE", machine);
        SetVariable("TAVOCOM_USER_HIVE", user);
        plat::RegMoveHive(plat::kHKeyLocalMachine, machine.c_str());
        plat::RegMoveHive(plat::kHKeyCurrentUser, user.c_str());

        std::vector<std::string> args{"check", kChildFlag, std::to_string(resume)};
        for (const std::string& a : OptionArgs(options)) args.push_back(a);
        args.push_back(library);
        const ChildRun run = RunSelf(args, options.timeoutSeconds);

        // The scratch goes: on Windows the version key, elsewhere the files.
        for (plat::RegKeyHandle hive : {plat::kHKeyLocalMachine, plat::kHKeyCurrentUser})
            DeleteTree(hive, std::string(registry::kMakerKey) + version);
        plat::RegMoveHive(plat::kHKeyLocalMachine, nullptr);
        plat::RegMoveHive(plat::kHKeyCurrentUser, nullptr);
        std::filesystem::remove_all(dir, ignored);

        bool ended = false;
        unsigned step = 0;
        std::string stepName = "load", stepSubject = library;
        std::stringstream lines(run.output);
        for (std::string line; std::getline(lines, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            const std::vector<std::string> f = Split(line);
            if (f.empty()) continue;
            if (f[0] == kEndTag) ended = true;
            if (f[0] == kStepTag && f.size() >= 4) {
                step = unsigned(std::strtoul(f[1].c_str(), nullptr, 10));
                stepName = f[2];
                stepSubject = f[3];
            }
            if (f[0] == kFindingTag && f.size() >= 4) findings->push_back({f[1], f[2], f[3], f.size() > 4 ? f[4] : ""});
        }
        if (ended) return;
        std::string what;
        if (!run.started) what = "the checking process could not be started";
        else if (run.timedOut) what = "hung: no progress for " + std::to_string(options.timeoutSeconds) + " s";
        else if (run.exitCode < 0) what = "crashed (signal " + std::to_string(-run.exitCode) + ")";
        else what = "crashed (exit status " + (run.exitCode > 255 ? Hex32(uint32_t(run.exitCode)) : std::to_string(run.exitCode)) + ")";
        findings->push_back({"fail", stepName.c_str(), stepSubject, what});
        // Without the library loaded or its classes known, nothing after runs.
        if (!run.started || stepName == "load" || stepName == "setup") return;
        // The classes a registration that failed so would have named are
        // not known; only those named with --class are checked.
        if (stepName == "registration") options.registerForUse = false;
        resume = step + 1;
    }
}

} // namespace

bool ParseOptions(const std::vector<std::string>& args, Options* options, std::string* error) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--tsv") {
            options->tsv = true;
        } else if ((a == "--class" || a == "--interface") && hasValue) {
            _COM_GUID id{};
            if (!ParseGuid(args[++i], &id)) {
                *error = a + ": \"" + args[i] + "\" is no identifier in braces";
                return false;
            }
            (a == "--class" ? options->classes : options->interfaces).push_back(id);
        } else if (a == "--codes" && hasValue) {
            std::stringstream list(args[++i]);
            for (std::string code; std::getline(list, code, ',');) {
                char* end = nullptr;
                const long long value = std::strtoll(code.c_str(), &end, 0);
                if (code.empty() || *end || value < -2147483648LL || value > 0xFFFFFFFFLL) {
                    *error = "--codes: \"" + code + "\" is no status code";
                    return false;
                }
                options->codes.push_back(uint32_t(value));
            }
        } else if (a == "--no-register") {
            options->registerForUse = false;
        } else if (a == "--timeout" && hasValue) {
            options->timeoutSeconds = unsigned(std::strtoul(args[++i].c_str(), nullptr, 10));
            if (options->timeoutSeconds == 0) options->timeoutSeconds = 10;
        } else if (a.size() > 1 && a[0] == '-') {
            *error = "unknown option " + a;
            return false;
        } else {
            options->libraries.push_back(a);
        }
    }
    if (options->libraries.empty()) *error = "no library given";
    return !options->libraries.empty();
}

std::vector<std::string> OptionArgs(const Options& options) {
    std::vector<std::string> args{"--timeout", std::to_string(options.timeoutSeconds)};
    for (const _COM_GUID& id : options.classes) args.insert(args.end(), {"--class", GuidText(id)});
    for (const _COM_GUID& id : options.interfaces) args.insert(args.end(), {"--interface", GuidText(id)});
    std::string codes;
    for (uint32_t code : options.codes) codes += (codes.empty() ? "" : ",") + Hex32(code);
    if (!codes.empty()) args.insert(args.end(), {"--codes", codes});
    if (!options.registerForUse) args.push_back("--no-register");
    return args;
}

} // namespace check

int Check(const Args& args) {
    using namespace check;
    const bool child = !args.empty() && args[0] == kChildFlag;
    Options options;
    std::string error = "no library given";
    if ((child && args.size() < 2) ||
        !ParseOptions(child ? Args(args.begin() + 2, args.end()) : args, &options, &error)) {
        std::fprintf(stderr, "tavocom check: %s\nusage: tavocom check [--tsv] [--class CLSID]... [--interface IID]... "
                             "[--codes CODE,...] LIBRARY...\n", error.c_str());
        return 2;
    }
    if (child) return RunChild(options, unsigned(std::strtoul(args[1].c_str(), nullptr, 10)));

    const std::vector<std::string> runtimeNames = RuntimeNames();
    bool failed = false;
    if (options.tsv) std::printf("library\tverdict\trule\tsubject\tfinding\n");
    for (const std::string& library : options.libraries) {
        std::vector<Finding> findings;
        CheckExports(library, runtimeNames, &findings);
        CheckLoaded(options, library, &findings);
        size_t failures = 0, passes = 0;
        for (const Finding& f : findings) {
            failures += f.verdict == "fail";
            passes += f.verdict == "pass";
            if (options.tsv)
                std::printf("%s\t%s\t%s\t%s\t%s\n", library.c_str(), f.verdict.c_str(), f.rule.c_str(),
                            f.subject.c_str(), f.text.c_str());
            else if (f.verdict != "pass")
                std::printf("%s: %s %s %s: %s\n", library.c_str(), f.verdict == "fail" ? "FAIL" : "note",
                            f.rule.c_str(), f.subject.c_str(), f.text.c_str());
        }
        if (!options.tsv)
            std::printf("%s: %s (%zu checks passed, %zu failed)\n", library.c_str(), failures ? "FAILED" : "passed",
                        passes, failures);
        failed = failed || failures;
    }
    return failed ? 1 : 0;
}

} // namespace tavo::tools
