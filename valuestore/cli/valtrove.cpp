// valtrove: inspect and edit a value data file from the command line, through the same store as the control.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "valuestore/core/value_store.h"

#ifndef QZ_VERSION
#define QZ_VERSION "unknown"
#endif

namespace {

enum Exit : int {
    kOk = 0,
    kFailure = 1,   // anything unexpected
    kUsage = 2,     // bad command line
    kNotFound = 3,  // get/rewrite/remove: the value does not exist
    kAmbiguous = 4, // add: the name is taken (ambiguous or semi-ambiguous)
    kRefused = 5,   // names or data the file cannot hold, or an entry without its ')'
    kFileError = 6, // the data file could not be read or written
};

constexpr std::string_view kHelp =
    "usage: valtrove FILE COMMAND [ARGS]\n"
    "\n"
    "Reads and edits a value data file (two quoted lines: the declarations and the values).\n"
    "\n"
    "commands:\n"
    "  list                    print every value as NAME<TAB>DATA, one per line, in order\n"
    "  get NAME                print the data of NAME (name compared without regard to case)\n"
    "  add NAME DATA [--rewrite]\n"
    "                          add a value; a taken name is refused, or rewritten with --rewrite\n"
    "  rewrite NAME DATA       store DATA as the data of NAME\n"
    "  remove NAME             remove NAME\n"
    "  clear                   replace the file with the default content (the value NULL = 0)\n"
    "  --help                  show this text\n"
    "  --version, -V           show the version\n"
    "\n"
    "A missing FILE is created with the default content by the first command that reads it.\n"
    "Names and data may not contain '(', ')', CR, LF or \"<BEGINVALUEDECLARE>\".\n"
    "Every command refuses to run when an existing FILE cannot be read whole (it cannot be read,\n"
    "or it is not the two quoted lines of a value data file); such a file is never replaced.\n"
    "A save that fails is a file error; the file then keeps its old content.\n"
    "\n"
    "exit status:\n"
    "  0  success\n"
    "  1  unexpected failure\n"
    "  2  usage error\n"
    "  3  no such value (get, rewrite, remove)\n"
    "  4  name refused as ambiguous or semi-ambiguous (add)\n"
    "  5  name or data refused (an empty name for remove), or the value's entry has no closing ')'\n"
    "  6  file error (the message names the error, the file and the reason, e.g. \"Permission denied\")\n";

int complain(int status, const std::string& message) {
    std::fprintf(stderr, "valtrove: %s\n", message.c_str());
    return status;
}

int usage(const std::string& message) { return complain(kUsage, message + " (try 'valtrove --help')"); }

int fileError(const vs::StoreError& e) {
    return complain(kFileError, "file error " + std::to_string(e.number) + ": " + e.what());
}

// The status of an operation that ran: a file error it absorbed, or success.
int finish(const vs::ValueStore& store) {
    if (const auto& error = store.lastFileError()) return fileError(*error);
    return kOk;
}

struct Command {
    std::string file;
    std::string name; // list, get, add, rewrite, remove, clear
    std::vector<std::string> args;
    bool rewrite = false;
};

int run(const Command& command) {
    vs::ValueStore store;
    store.setDataFileSource([&] { return command.file; });
    const std::string& verb = command.name;

    // Read the file first: report a file that cannot be read whole instead of acting on a part of it.
    store.getDataValues();
    if (const auto& error = store.lastFileError()) return fileError(*error);

    if (verb == "list") {
        for (const auto& [name, data] : store.values()) std::printf("%s\t%s\n", name.c_str(), data.c_str());
        return kOk;
    }
    if (verb == "get") {
        const std::string* data = store.find(command.args[0]);
        if (!data) return complain(kNotFound, "no value named '" + command.args[0] + "'");
        std::printf("%s\n", data->c_str());
        return kOk;
    }
    if (verb == "clear") {
        store.clearAll();
        return finish(store);
    }

    const std::string& name = command.args[0];
    vs::Outcome outcome;
    if (verb == "add") {
        store.setNewValueData(command.args[1]);
        store.setAutomaticRewrite(command.rewrite);
        outcome = store.addDataValue(name);
        if (outcome == vs::Outcome::ambiguous)
            return complain(kAmbiguous, std::string(vs::kAmbiguousNameMessage) + ": '" + name + "'");
        if (outcome == vs::Outcome::notFound)
            return complain(kAmbiguous,
                            "'" + name + "' is part of a taken name and has no value of its own to rewrite");
    } else if (verb == "rewrite") {
        store.setNewValueData(command.args[1]);
        outcome = store.rewriteDataValue(name);
    } else {
        outcome = store.removeDataValue(name);
    }
    if (outcome == vs::Outcome::notFound) return complain(kNotFound, "no value named '" + name + "'");
    return finish(store);
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> words(argv + 1, argv + argc);
    if (!words.empty() && (words[0] == "--version" || words[0] == "-V")) {
        std::puts("valtrove " QZ_VERSION);
        return kOk;
    }
    for (const std::string& word : words) {
        if (word == "--help" || word == "-h") {
            std::fputs(kHelp.data(), stdout);
            return kOk;
        }
    }
    if (words.size() < 2) return usage("expected FILE and a command");

    Command command;
    command.file = words[0];
    command.name = words[1];
    for (std::size_t i = 2; i < words.size(); ++i) {
        if (words[i] == "--rewrite" && command.name == "add")
            command.rewrite = true;
        else
            command.args.push_back(words[i]);
    }
    const std::size_t wanted = command.name == "list" || command.name == "clear"    ? 0
                               : command.name == "get" || command.name == "remove"  ? 1
                               : command.name == "add" || command.name == "rewrite" ? 2
                                                                                    : SIZE_MAX;
    if (wanted == SIZE_MAX) return usage("unknown command '" + command.name + "'");
    if (command.args.size() != wanted)
        return usage("'" + command.name + "' takes " + std::to_string(wanted) + " argument(s)");

    try {
        return run(command);
    } catch (const vs::StoreError& e) {
        if (e.number == vs::error::invalidArgument) return complain(kRefused, e.what());
        return fileError(e);
    } catch (const std::exception& e) {
        return complain(kFailure, e.what());
    }
}
