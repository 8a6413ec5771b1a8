// tarvel-cli: the handset from a terminal and from scripts, on the same link as the window.
#include <algorithm>
#include <cstdio>
#include <map>
#include <vector>
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include <QCommandLineParser>
#include <QCoreApplication>

#include "TarvelVersion.h"
#include "cli/Answers.h"
#include "cli/Commands.h"
#include "mount/MountRules.h"
#include "protocol/PhoneTree.h"
#include "serial/TraceFile.h"
#include "settings/Unit_Init.h"

namespace {

struct CliCommand {
    const char* name;
    const char* syntax;        // the arguments, for the usage line
    const char* summary;       // one line, for the list of commands
    const char* details;       // more, for the command's own help ("" when none)
    const char* argument;      // the argument's name and what it is ("" when none)
    const char* argumentText;
    int minArgs, maxArgs;      // -1: any number
    std::vector<const char*> options;   // the command's own options (by name)
};

const std::vector<CliCommand>& Commands()
{
    static const char kPhoneFile[] = "a file in a folder of the phone tree, e.g. /user/sounds/tune.mmf";
    static const std::vector<CliCommand> commands = {
        {"model", "", "reset the phone and print its model", "", "", "", 0, 0, {}},
        {"ls", "[FOLDER]", "list a folder of the phone: name, type, size, date", "",
         "FOLDER", "a folder of the phone tree, e.g. /user/sounds (default /)", 0, 1, {"json"}},
        {"get", "FOLDER/NAME...", "copy files from the phone to the PC",
         "Each file is checked against its CRC and saved whole or not at all.", "FOLDER/NAME", kPhoneFile, 1, -1,
         {"output", "overwrite", "skip-existing"}},
        {"put", "FILE... FOLDER", "copy PC files to a folder of the phone",
         "Names are shortened and typed as the window does.", "FOLDER", "a folder of the phone tree", 2, -1,
         {"melody", "overwrite", "skip-existing"}},
        {"rm", "FOLDER/NAME...", "erase files on the phone", "", "FOLDER/NAME", kPhoneFile, 1, -1, {}},
        {"backup", "DIR", "copy every folder of the phone into DIR",
         "The folders of the phone tree land in the same folders under DIR. A later run into the same DIR "
         "fetches only the files whose size or date on the phone changed, or whose copy in DIR is gone "
         "(DIR/.tarvel-backup keeps what it holds). Nothing in DIR is ever deleted; a file there that the "
         "backup did not write is replaced only with --overwrite (or a yes on the terminal), else it counts "
         "as failed. In PC names, bytes of a phone name that are not UTF-8 and control bytes become %XX "
         "(see the manual). Prints each file "
         "that was new, changed or failed (the unchanged ones too with --verbose), then the counts.",
         "DIR", "the backup folder on the PC (made when missing)", 1, 1, {"overwrite", "skip-existing"}},
        {"install-midlet", "FILE.jad [FOLDER]", "install a MIDlet suite into the phone's application store",
         "The store is the phone folder FOLDER. Its index files suites.utf and suitesName.utf are fetched "
         "into the folder of FILE.jad, the suite is added to them there, and they go back to the phone with "
         "the suite's four files, made from FILE.jad and the JAR it names (in the same folder). When the "
         "store has no index files yet, --yes makes them anew.",
         "FOLDER", "the phone folder of the application store (default /java)", 1, 2, {}},
        {"check", "", "check the port step by step, as tarvel --check-port does",
         "The port exists, you may open it, no other process holds it, the line opens at the rate, the "
         "phone answers ATZ and AT+CGMM, and it knows the file-system commands (AT+FSIF): each check on "
         "a line of standard output with its result, advice below a failed one. Exit status 0 only when "
         "all of them pass.",
         "", "", 0, 0, {}},
        {"ports", "", "list the serial ports the port setup of the window offers", "", "", "", 0, 0, {}},
        {"mount", "MOUNTPOINT", "serve the whole phone as a folder at MOUNTPOINT",
         "Its folders are the phone tree. A file is read from the phone once, when it is first opened, and "
         "a file written is sent when it is closed: close() waits for the phone and fails when the phone "
         "refused it (its bytes are then kept in ~/.local/state/tarvel/unsent). Unmount with "
         "\"fusermount3 -u MOUNTPOINT\", Ctrl+C or SIGTERM; the exit status is 1 when any file could not be "
         "sent. Options of -o: relist=SECONDS (list a folder again when opened after this long, default 5), "
         "negative_timeout=SECONDS, noauto_unmount, and those of mount.fuse3. See the manual for thumbnailers "
         "on a slow line.",
         "MOUNTPOINT", "an empty folder", 1, 1, {"foreground", "options"}},
    };
    return commands;
}

QCommandLineOption Option(const char* name)
{
    static const std::map<std::string, QCommandLineOption> options = [] {
        std::map<std::string, QCommandLineOption> o;
        auto add = [&](QStringList names, const char* text, const char* value = nullptr) {
            o.emplace(names.last().toStdString(), value ? QCommandLineOption(names, QString::fromUtf8(text), QString::fromUtf8(value))
                                                        : QCommandLineOption(names, QString::fromUtf8(text)));
        };
        add({"h", "help"}, "Print the help (of the command) and end.");
        add({"version"}, "Print the version and end.");
        add({"port"}, "The serial port (else TARVEL_PORT, else PORT of tarvel.ini).", "PORT");
        add({"baud"}, "The line speed in bit/s (else COMPortBaudRate of tarvel.ini).", "RATE");
        add({"flow"}, "Flow control: none, rts-on or handshake (else COMHwFlow of tarvel.ini).", "FLOW");
        add({"y", "yes"}, "Answer yes to every question (overwrite, delete).");
        add({"q", "quiet"}, "No progress and no notes on standard error (errors still).");
        add({"v", "verbose"}, "Progress and notes on standard error also when it is no terminal.");
        add({"trace"}, "Print every byte of the serial line, both ways, on standard error.");
        add({"json"}, "Print the listing as JSON.");
        add({"o", "output"}, "The PC folder the files go to (default: the current folder).", "DIR");
        add({"overwrite"}, "Replace files that exist at the destination without asking.");
        add({"skip-existing"}, "Leave files that exist at the destination alone without asking.");
        add({"melody"}, "Upload as a melody (.mmf files): the melody header in front, type 0.");
        add({"f", "foreground"}, "Stay in the foreground (else the mount goes on in the background).");
        add({"o", "options"}, "Mount options, comma-separated (see above).", "OPTIONS");
        return o;
    }();
    return options.at(name);
}

const char* const kGlobalOptions[] = {"help", "version", "port", "baud", "flow", "yes", "quiet", "verbose", "trace"};

QString GeneralDescription()
{
    QString text = QStringLiteral("The handset from a terminal and from scripts.\n\nCommands:\n");
    for (const CliCommand& c : Commands()) {
        const QString call = QStringLiteral("%1 %2").arg(QString::fromUtf8(c.name), QString::fromUtf8(c.syntax));
        text += QStringLiteral("  %1  %2\n").arg(call, -24).arg(QString::fromUtf8(c.summary));
    }
    text += QStringLiteral("\n\"tarvel-cli COMMAND --help\" tells more of each. Exit status: 0 all done, 1 a file\n"
                           "or the link failed, 2 bad usage.");
    return text;
}

void Build(QCommandLineParser& parser, const CliCommand* cmd, bool allOptions)
{
    for (const char* name : kGlobalOptions)
        parser.addOption(Option(name));
    if (allOptions) {
        // -o of mount (its options) is -o of get (the output folder) here: it only has to be
        // passed over to find the command.
        for (const char* name : {"json", "output", "overwrite", "skip-existing", "melody", "foreground"})
            parser.addOption(Option(name));
    } else if (cmd) {
        for (const char* name : cmd->options)
            parser.addOption(Option(name));
    }
    if (cmd) {
        QString text = QString::fromUtf8(cmd->summary);
        text[0] = text[0].toUpper();
        text += QStringLiteral(".");
        // Wrapped at 79 columns: the parser shows the description as it is.
        int column = 0;
        for (const QString& word : QString::fromUtf8(cmd->details).split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            const bool wrap = column == 0 || column + 1 + word.size() > 79;
            text += (wrap ? QStringLiteral("\n") : QStringLiteral(" ")) + word;
            column = wrap ? static_cast<int>(word.size()) : column + 1 + static_cast<int>(word.size());
        }
        parser.setApplicationDescription(text);
        parser.addPositionalArgument(QString::fromUtf8(*cmd->argument ? cmd->argument : cmd->name),
                                     QString::fromUtf8(*cmd->argument ? cmd->argumentText : "the command"),
                                     QStringLiteral("%1 %2").arg(QString::fromUtf8(cmd->name), QString::fromUtf8(cmd->syntax)));
    } else {
        parser.setApplicationDescription(GeneralDescription());
        parser.addPositionalArgument(QStringLiteral("COMMAND"), QStringLiteral("one of the commands above"),
                                     QStringLiteral("COMMAND [ARGUMENTS]"));
    }
}

// The help, naming the program by its name rather than by the path it was started with.
std::string HelpText(const QCommandLineParser& parser)
{
    QString text = parser.helpText();
    const QString program = QCoreApplication::arguments().value(0);
    if (!program.isEmpty() && text.startsWith(QStringLiteral("Usage: ") + program))
        text.replace(7, program.size(), QStringLiteral("tarvel-cli"));
    return text.toStdString();
}

int Usage(const std::string& problem, const QCommandLineParser* parser = nullptr)
{
    std::cerr << "tarvel-cli: " << problem << "\n";
    if (parser)
        std::cerr << HelpText(*parser).substr(0, HelpText(*parser).find('\n')) << "\n";
    std::cerr << "\"tarvel-cli --help\" tells more.\n";
    return 2;
}

// "FOLDER/NAME" -> the folder (which the phone tree must have) and the name.
bool PhoneFile(const std::string& arg, PhoneFileArg& out, std::string& problem)
{
    const std::size_t slash = arg.rfind('/');
    out.Folder = NormalPhoneFolder(slash == std::string::npos ? std::string() : arg.substr(0, slash));
    out.Name = slash == std::string::npos ? arg : arg.substr(slash + 1);
    if (out.Name.empty())
        problem = arg + ": no file name";
    else if (!IsPhoneTreeFolder(out.Folder))
        problem = out.Folder + ": the phone has no such folder";
    return problem.empty();
}

// The rates --baud takes: those the serial component names, the window's choices, and the
// faster rates USB serial adapters commonly run at (the port sets any of them).
std::vector<std::uint32_t> AcceptedRates()
{
    std::vector<std::uint32_t> rates;
    for (int r = br110; r <= br256000; ++r)
        rates.push_back(BaudRateOf(static_cast<TBaudRate>(r)));
    for (const std::uint32_t fast : {230400u, 460800u, 921600u})
        rates.push_back(fast);
    std::sort(rates.begin(), rates.end());
    return rates;
}

std::string RateList()
{
    std::string list;
    for (const std::uint32_t rate : AcceptedRates())
        list += (list.empty() ? "" : ", ") + std::to_string(rate);
    return list;
}

bool ParseFlow(const QString& text, THwFlowControl& flow)
{
    const QString t = text.toLower();
    if (t == QLatin1String("none") || t == QLatin1String("0"))
        flow = hfNONE;
    else if (t == QLatin1String("rts-on") || t == QLatin1String("1"))
        flow = hfNONERTSON;
    else if (t == QLatin1String("handshake") || t == QLatin1String("2"))
        flow = hfRTSCTS;
    else
        return false;
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tarvel-cli"));
    const QStringList args = QCoreApplication::arguments();

    // First every option, to find the command; then the command's own, which also rejects an
    // option the command does not take.
    QCommandLineParser first;
    Build(first, nullptr, true);
    if (!first.parse(args))
        return Usage(first.errorText().toStdString());
    if (first.isSet(QStringLiteral("version"))) {
        std::cout << "tarvel-cli " << kTarvelVersion << "\n";
        return 0;
    }
    const QStringList words = first.positionalArguments();
    if (words.isEmpty()) {
        if (first.isSet(QStringLiteral("help"))) {
            std::cout << HelpText(first);
            return 0;
        }
        return Usage("no command given");
    }
    const std::string name = words.first().toStdString();
    const auto cmd = std::find_if(Commands().begin(), Commands().end(), [&](const CliCommand& c) { return name == c.name; });
    if (cmd == Commands().end())
        return Usage("unknown command " + name);

    QCommandLineParser parser;
    Build(parser, &*cmd, false);
    if (!parser.parse(args))
        return Usage(parser.errorText().toStdString(), &parser);
    if (parser.isSet(QStringLiteral("help"))) {
        std::cout << HelpText(parser);
        return 0;
    }
    std::vector<std::string> operands;
    for (const QString& w : parser.positionalArguments().mid(1))
        operands.push_back(w.toStdString());
    const int count = static_cast<int>(operands.size());
    if (count < cmd->minArgs)
        return Usage(std::string(cmd->name) + ": missing argument", &parser);
    if (cmd->maxArgs >= 0 && count > cmd->maxArgs)
        return Usage(std::string(cmd->name) + ": too many arguments", &parser);

    // The line settings: tarvel.ini of the current folder, TARVEL_PORT, the options.
    InitSettingsDir();
    LoadSettings();
    CliSettings s;
    s.Port = ComPort;
    if (const char* port = std::getenv("TARVEL_PORT"); port && *port)
        s.Port = port;
    if (parser.isSet(QStringLiteral("port")))
        s.Port = parser.value(QStringLiteral("port")).toStdString();
    s.BaudRate = static_cast<std::uint32_t>(ComBaudRate);
    if (parser.isSet(QStringLiteral("baud"))) {
        bool ok = false;
        s.BaudRate = parser.value(QStringLiteral("baud")).toUInt(&ok);
        const std::vector<std::uint32_t> rates = AcceptedRates();
        if (!ok || std::find(rates.begin(), rates.end(), s.BaudRate) == rates.end())
            return Usage("--baud takes one of " + RateList() + " (bit/s)", &parser);
    }
    s.CheckLineStatus = ComCheckLineStatus;
    s.HwFlow = ComHwFlow >= hfNONE && ComHwFlow <= hfRTSCTS ? static_cast<THwFlowControl>(ComHwFlow) : hfNONERTSON;
    if (parser.isSet(QStringLiteral("flow")) && !ParseFlow(parser.value(QStringLiteral("flow")), s.HwFlow))
        return Usage("--flow takes none, rts-on or handshake", &parser);
    s.Quiet = parser.isSet(QStringLiteral("quiet"));
    s.Verbose = parser.isSet(QStringLiteral("verbose")) && !s.Quiet;
    s.Trace = parser.isSet(QStringLiteral("trace"));

    // The operands, checked before the port is touched.
    std::vector<PhoneFileArg> phoneFiles;
    std::string folder = "/";
    const std::string command = cmd->name;
    std::string problem;
    if (command == "get" || command == "rm") {
        for (const std::string& operand : operands) {
            PhoneFileArg f;
            if (!PhoneFile(operand, f, problem))
                return Usage(problem, &parser);
            phoneFiles.push_back(f);
        }
    } else if (command == "install-midlet") {
        const std::string& jad = operands.front();
        const QString extension = QString::fromStdString(std::filesystem::path(jad).extension().string());
        if (extension.compare(QStringLiteral(".jad"), Qt::CaseInsensitive) != 0)
            return Usage(jad + ": not a JAD file (FILE.jad)", &parser);
        if (!std::filesystem::is_regular_file(jad))
            return Usage(jad + ": no such file on the PC", &parser);
        folder = operands.size() > 1 ? NormalPhoneFolder(operands.back()) : "/java";
        if (!IsPhoneTreeFolder(folder))
            return Usage(folder + ": the phone has no such folder", &parser);
    } else if (command == "ls" || command == "put") {
        if (!operands.empty()) {
            folder = NormalPhoneFolder(operands.back());
            if (!IsPhoneTreeFolder(folder))
                return Usage(folder + ": the phone has no such folder", &parser);
        }
        if (command == "put")
            operands.pop_back();
    }
    // The command's own options (asking the parser of one it lacks would only warn).
    auto given = [&](const char* option) {
        return std::find_if(cmd->options.begin(), cmd->options.end(), [&](const char* o) { return std::string(o) == option; })
                   != cmd->options.end()
            && parser.isSet(QString::fromUtf8(option));
    };
    const std::string outDir = given("output") ? parser.value(QStringLiteral("output")).toStdString() : ".";
    if (command == "get" && !std::filesystem::is_directory(outDir))
        return Usage(outDir + ": no such folder on the PC", &parser);

    s.Answers.Yes = parser.isSet(QStringLiteral("yes"));
    const bool overwrite = given("overwrite");
    const bool skip = given("skip-existing");
    if (overwrite && skip)
        return Usage("--overwrite and --skip-existing exclude each other", &parser);
    s.Answers.OnExisting = overwrite ? CliAnswers::Overwrite::Yes : skip ? CliAnswers::Overwrite::No : CliAnswers::Overwrite::Ask;
    s.Answers.Quiet = s.Quiet;
    if (s.Trace)
        StartTraceStream(stderr);

    if (command == "model")
        return RunModel(s);
    if (command == "ls")
        return RunList(s, folder, given("json"));
    if (command == "get")
        return RunGet(s, phoneFiles, outDir);
    if (command == "put")
        return RunPut(s, operands, folder, given("melody"));
    if (command == "rm")
        return RunRemove(s, phoneFiles);
    if (command == "install-midlet")
        return RunInstallMidlet(s, operands.front(), folder);
    if (command == "backup")
        return RunBackup(s, operands.front());
    if (command == "check")
        return RunCheck(s);
    if (command == "mount") {
        const MountOptions options = ParseMountOptions(given("options") ? parser.value(QStringLiteral("options")).toStdString() : "");
        if (!options.Error.empty())
            return Usage("-o: " + options.Error, &parser);
        if (!std::filesystem::is_directory(operands.front()))
            return Usage(operands.front() + ": no such folder on the PC", &parser);
        return RunMount(s, std::filesystem::absolute(operands.front()).lexically_normal().string(), given("foreground"), options);
    }
    return RunPorts();
}
