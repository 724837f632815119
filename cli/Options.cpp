#include "cli/Options.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <sstream>

namespace vmk::cli {

namespace {

using TApply = std::function<void(TStoredSettings&)>;

// One row per option. Arg is empty for an option that takes no value; Read
// turns the value into what the option does (throwing EUsage); Default shows
// the value used when neither the option nor the store gives one.
struct TOptionRow {
    const char* Name;
    const char* Arg;
    const char* Help;
    std::function<std::string(const TStoredSettings&)> Default;
    std::function<void(TOptions&, const std::string& value)> Read;
};

[[noreturn]] void Refuse(const std::string& option, const std::string& value, const std::string& allowed) {
    throw EUsage(option + ": '" + value + "' is not allowed; " + allowed);
}

long long WholeNumber(const std::string& option, const std::string& value, long long low, long long high,
                      const std::string& allowed) {
    if (value.empty() || value.find_first_not_of("+-0123456789") != std::string::npos) Refuse(option, value, allowed);
    errno = 0;
    char* end = nullptr;
    const long long n = std::strtoll(value.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || n < low || n > high) Refuse(option, value, allowed);
    return n;
}

template <class Table>
std::string Names(const Table& table) {
    std::string names;
    for (const auto& row : table) names += (names.empty() ? "" : "|") + std::string(row.Name);
    return names;
}

template <class Table>
const char* NameOf(const Table& table, const auto& value, auto member) {
    for (const auto& row : table)
        if (row.*member == value) return row.Name;
    return "?";
}

std::string Hex6(TColor c) {
    // Stored as 0x00BBGGRR, written as a web colour: RRGGBB.
    static const char* digits = "0123456789ABCDEF";
    std::string text;
    for (const unsigned byte : {c & 0xFFu, (c >> 8) & 0xFFu, (c >> 16) & 0xFFu}) {
        text += digits[byte >> 4];
        text += digits[byte & 0xF];
    }
    return text;
}

std::string PlaceNames() { return Names(kPlaceNames) + "|" + Names(kAnchorNames); }

const char* PlaceName(TCoverPlace place) {
    for (const auto* table : {&kPlaceNames, &kAnchorNames})
        for (const TPlaceName& p : *table)
            if (p.Place == place) return p.Name;
    return "none";
}

// A margin in pixels or in %: which one is known only once every option is
// applied, so the run checks the % limit.
int Margin(const std::string& option, const std::string& value) {
    return static_cast<int>(
        WholeNumber(option, value, 0, kMaxMarginPixels, "give a whole number from 0 to 99999 (0 to 100 in %)"));
}

void Setting(TOptions& o, TApply apply) { o.Settings.push_back(std::move(apply)); }

// Settings of the composing steps; the store's value when not given. The
// cover's first.
std::vector<TOptionRow> CoverRows() {
    return {
        {"--cover", "FILE", "the cover picture (.bmp or .png)",
         [](const TStoredSettings& s) { return s.Cover.CoverFile.empty() ? "none" : s.Cover.CoverFile; },
         [](TOptions& o, const std::string& v) { Setting(o, [v](TStoredSettings& s) { s.Cover.CoverFile = v; }); }},
        {"--position", nullptr,
         "the corner the cover goes to (left or right, top or bottom), or other: at --left, --top; "
         "tc, bc: top or bottom centre; lm, rm: left or right middle; cc: the centre",
         [](const TStoredSettings& s) { return PlaceName(s.Cover.Place); },
         [](TOptions& o, const std::string& v) {
             for (const auto* table : {&kPlaceNames, &kAnchorNames})
                 for (const TPlaceName& p : *table)
                     if (v == p.Name)
                         return Setting(o, [place = p.Place](TStoredSettings& s) { s.Cover.Place = place; });
             Refuse("--position", v, "allowed: " + PlaceNames());
         }},
        {"--left", "N", "the cover's left edge with --position other",
         [](const TStoredSettings& s) { return std::to_string(s.Cover.Left); },
         [](TOptions& o, const std::string& v) {
             const auto n = static_cast<int>(WholeNumber("--left", v, INT_MIN, INT_MAX, "give a whole number"));
             Setting(o, [n](TStoredSettings& s) { s.Cover.Left = n; });
         }},
        {"--top", "N", "the cover's top edge with --position other",
         [](const TStoredSettings& s) { return std::to_string(s.Cover.Top); },
         [](TOptions& o, const std::string& v) {
             const auto n = static_cast<int>(WholeNumber("--top", v, INT_MIN, INT_MAX, "give a whole number"));
             Setting(o, [n](TStoredSettings& s) { s.Cover.Top = n; });
         }},
        {"--margin-x", "N", "the cover's distance from the left or right edge (not with tc, bc, cc)",
         [](const TStoredSettings& s) { return std::to_string(s.Cover.MarginX); },
         [](TOptions& o, const std::string& v) {
             const int n = Margin("--margin-x", v);
             Setting(o, [n](TStoredSettings& s) { s.Cover.MarginX = n; });
         }},
        {"--margin-y", "N", "the cover's distance from the top or bottom edge (not with lm, rm, cc)",
         [](const TStoredSettings& s) { return std::to_string(s.Cover.MarginY); },
         [](TOptions& o, const std::string& v) {
             const int n = Margin("--margin-y", v);
             Setting(o, [n](TStoredSettings& s) { s.Cover.MarginY = n; });
         }},
        {"--margin-percent", "", "the margins are in % of the picture's width and height (0 to 100)",
         [](const TStoredSettings& s) { return s.Cover.MarginPercent ? "on" : "off"; },
         [](TOptions& o, const std::string&) {
             Setting(o, [](TStoredSettings& s) {
                 // As the window's check box does: a margin past 100 becomes 100 %.
                 s.Cover.MarginPercent = true;
                 s.Cover.MarginX = std::min(s.Cover.MarginX, kMaxMarginPercent);
                 s.Cover.MarginY = std::min(s.Cover.MarginY, kMaxMarginPercent);
             });
         }},
        {"--margin-pixels", "", "the margins are in pixels (0 to 99999)", nullptr,
         [](TOptions& o, const std::string&) {
             Setting(o, [](TStoredSettings& s) { s.Cover.MarginPercent = false; });
         }},
        {"--opacity", "N", "how much of the cover shows, 1 to 100 %",
         [](const TStoredSettings& s) { return std::to_string(s.Cover.Opacity); },
         [](TOptions& o, const std::string& v) {
             const auto n = static_cast<int>(WholeNumber("--opacity", v, 1, 100, "give a whole number from 1 to 100"));
             Setting(o, [n](TStoredSettings& s) { s.Cover.Opacity = n; });
         }},
        {"--size", nullptr,
         "the cover as it is, or scaled to --size-percent of the picture's width, height or shorter side",
         [](const TStoredSettings& s) { return NameOf(kSizingNames, s.Cover.Sizing, &TSizingName::Sizing); },
         [](TOptions& o, const std::string& v) {
             for (const TSizingName& z : kSizingNames)
                 if (v == z.Name)
                     return Setting(o, [sizing = z.Sizing](TStoredSettings& s) { s.Cover.Sizing = sizing; });
             Refuse("--size", v, "allowed: " + Names(kSizingNames));
         }},
        {"--size-percent", "N", "the cover's size with --size other than as-is, 1 to 100 %",
         [](const TStoredSettings& s) { return std::to_string(s.Cover.SizePercent); },
         [](TOptions& o, const std::string& v) {
             const auto n =
                 static_cast<int>(WholeNumber("--size-percent", v, 1, 100, "give a whole number from 1 to 100"));
             Setting(o, [n](TStoredSettings& s) { s.Cover.SizePercent = n; });
         }},
        {"--transparent", "", "one colour of the cover is see-through",
         [](const TStoredSettings& s) { return s.Cover.Transparent ? "on" : "off"; },
         [](TOptions& o, const std::string&) { Setting(o, [](TStoredSettings& s) { s.Cover.Transparent = true; }); }},
        {"--opaque", "", "the whole cover is drawn", nullptr,
         [](TOptions& o, const std::string&) { Setting(o, [](TStoredSettings& s) { s.Cover.Transparent = false; }); }},
        {"--auto-detect", "", "the see-through colour is the cover's bottom-left pixel",
         [](const TStoredSettings& s) { return s.Cover.AutoDetTrans ? "on" : "off"; },
         [](TOptions& o, const std::string&) { Setting(o, [](TStoredSettings& s) { s.Cover.AutoDetTrans = true; }); }},
        {"--key-colour", "RRGGBB", "the see-through colour, in hex (turns --auto-detect off)",
         [](const TStoredSettings& s) { return Hex6(s.Cover.TransColor); },
         [](TOptions& o, const std::string& v) {
             if (v.size() != 6 || v.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
                 Refuse("--key-colour", v, "give six hex digits RRGGBB, such as FF00FF");
             const auto rgb = static_cast<uint32_t>(std::strtoul(v.c_str(), nullptr, 16));
             const TColor c =
                 RGBColor(static_cast<uint8_t>(rgb >> 16), static_cast<uint8_t>(rgb >> 8), static_cast<uint8_t>(rgb));
             Setting(o, [c](TStoredSettings& s) {
                 s.Cover.TransColor = c;
                 s.Cover.AutoDetTrans = false;
             });
         }},
    };
}

// Where and how the results are written.
std::vector<TOptionRow> OutputRows() {
    return {
        {"--format", nullptr, "the results' format; as-is keeps each source's own",
         [](const TStoredSettings& s) { return NameOf(kFormatNames, s.Output.SaveAs, &TFormatName::SaveAs); },
         [](TOptions& o, const std::string& v) {
             for (const TFormatName& f : kFormatNames)
                 if (v == f.Name)
                     return Setting(o, [saveAs = f.SaveAs](TStoredSettings& s) { s.Output.SaveAs = saveAs; });
             Refuse("--format", v, "allowed: " + Names(kFormatNames));
         }},
        {"--quality", "N", "JPEG, WebP, HEIC and AVIF quality, 1 to 100",
         [](const TStoredSettings& s) { return std::to_string(s.Output.Quality); },
         [](TOptions& o, const std::string& v) {
             const auto n = static_cast<int>(
                 WholeNumber("--quality", v, kMinQuality, kMaxQuality, "give a whole number from 1 to 100"));
             Setting(o, [n](TStoredSettings& s) { s.Output.Quality = n; });
         }},
        {"--prefix", "TEXT", "put TEXT in front of each result's name",
         [](const TStoredSettings& s) {
             return s.Output.Prefix ? "\"" + s.Output.FileFix + "\"" : std::string("none");
         },
         [](TOptions& o, const std::string& v) {
             Setting(o, [v](TStoredSettings& s) {
                 s.Output.Prefix = true;
                 s.Output.FileFix = v;
             });
         }},
        {"--suffix", "TEXT", "put TEXT behind each result's name (before its extension)", nullptr,
         [](TOptions& o, const std::string& v) {
             Setting(o, [v](TStoredSettings& s) {
                 s.Output.Prefix = false;
                 s.Output.FileFix = v;
             });
         }},
        {"--output", "DIR", "write the results into DIR (made when missing); \"\" means beside each source",
         [](const TStoredSettings& s) { return s.Output.Path.empty() ? "beside each source" : s.Output.Path; },
         [](TOptions& o, const std::string& v) {
             // Relative to where the command runs, as a shell user expects.
             std::string path = v;
             if (!path.empty() && path[0] != '/' && path[0] != '~')
                 path = (std::filesystem::current_path() / path).string();
             Setting(o, [path](TStoredSettings& s) { s.Output.Path = path; });
         }},
    };
}

std::vector<TOptionRow> RunRows() {
    return {
        {"--recursive", "", "folders: take the pictures of their subfolders too", nullptr,
         [](TOptions& o, const std::string&) { o.Recursive = true; }},
        {"--keep-subfolders", "", "with --output: each result in its source's subfolder below the folder given",
         nullptr, [](TOptions& o, const std::string&) { o.KeepSubfolders = true; }},
        {"--files-from", "FILE", "read more paths from FILE, one a line (- for standard input)", nullptr,
         [](TOptions& o, const std::string& v) { o.FilesFrom = v; }},
        {"-0", "", "--files-from's paths are separated by NUL characters", nullptr,
         [](TOptions& o, const std::string&) { o.NulSeparated = true; }},
        {"--jobs", "N", "pictures worked on at once (default: every core it may use)", nullptr,
         [](TOptions& o, const std::string& v) {
             o.Jobs = static_cast<int>(WholeNumber("--jobs", v, 1, 1024, "give a whole number from 1 to 1024"));
         }},
        {"--shard", "K/N", "take every N-th picture of the sorted list, from the K-th (1-based)", nullptr,
         [](TOptions& o, const std::string& v) {
             const std::string allowed = "give K/N with 1 <= K <= N, such as 1/4";
             const size_t slash = v.find('/');
             if (slash == std::string::npos) Refuse("--shard", v, allowed);
             const auto part = [&](const std::string& text) {
                 if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
                     Refuse("--shard", v, allowed);
                 return std::stoi(text);
             };
             TShard shard;
             shard.K = part(v.substr(0, slash));
             shard.N = part(v.substr(slash + 1));
             if (shard.K < 1 || shard.K > shard.N) Refuse("--shard", v, allowed);
             o.Shard = shard;
         }},
        {"--dry-run", "", "say what would be written where; read and write no picture", nullptr,
         [](TOptions& o, const std::string&) { o.DryRun = true; }},
        {"--exists", nullptr,
         "when a result's name is taken: replace it, leave it, or keep both (the new one as \"name (2).ext\")",
         [](const TStoredSettings& s) {
             return std::string(NameOf(kExistingNames, s.Rules.Existing, &TRuleName<TExisting>::Value));
         },
         [](TOptions& o, const std::string& v) {
             for (const auto& row : kExistingNames)
                 if (v == row.Name) {
                     o.Settings.push_back([e = row.Value](TStoredSettings& s) { s.Rules.Existing = e; });
                     return;
                 }
             Refuse("--exists", v, "give " + Names(kExistingNames));
         }},
        {"--skip-existing", "", "the same as --exists skip", nullptr,
         [](TOptions& o, const std::string&) {
             o.Settings.push_back([](TStoredSettings& s) { s.Rules.Existing = TExisting::Skip; });
         }},
        {"--on-failure", nullptr, "stop at the first failure, or go on and list every failure at the end",
         [](const TStoredSettings& s) {
             return std::string(NameOf(kOnFailureNames, s.Rules.OnFailure, &TRuleName<TOnFailure>::Value));
         },
         [](TOptions& o, const std::string& v) {
             for (const auto& row : kOnFailureNames)
                 if (v == row.Name) {
                     o.Settings.push_back([f = row.Value](TStoredSettings& s) { s.Rules.OnFailure = f; });
                     return;
                 }
             Refuse("--on-failure", v, "give " + Names(kOnFailureNames));
         }},
        {"--keep-going", "", "the same as --on-failure go-on", nullptr,
         [](TOptions& o, const std::string&) {
             o.Settings.push_back([](TStoredSettings& s) { s.Rules.OnFailure = TOnFailure::GoOn; });
         }},
        {"--json", "", "one JSON object per picture on standard output", nullptr,
         [](TOptions& o, const std::string&) { o.Json = true; }},
        {"--verbose", "", "one line per result on standard output", nullptr,
         [](TOptions& o, const std::string&) { o.Verbose = true; }},
        {"--settings", "FILE", "read the settings from this store file instead of the window's", nullptr,
         [](TOptions& o, const std::string& v) { o.SettingsFile = v; }},
        {"--help", "", "show this text", nullptr, [](TOptions& o, const std::string&) { o.Help = true; }},
        {"--version", "", "show the version", nullptr, [](TOptions& o, const std::string&) { o.Version = true; }},
    };
}

const std::vector<TOptionRow>& Rows() {
    static const std::vector<TOptionRow> rows = [] {
        std::vector<TOptionRow> all = CoverRows();
        for (std::vector<TOptionRow> more : {OutputRows(), RunRows()}) all.insert(all.end(), more.begin(), more.end());
        return all;
    }();
    return rows;
}

// The value's name in the help: the row's own, or the choices of its table.
std::string ArgName(const TOptionRow& row) {
    if (row.Arg) return row.Arg;
    if (std::string(row.Name) == "--position") return PlaceNames();
    if (std::string(row.Name) == "--size") return Names(kSizingNames);
    if (std::string(row.Name) == "--exists") return Names(kExistingNames);
    if (std::string(row.Name) == "--on-failure") return Names(kOnFailureNames);
    return Names(kFormatNames);
}

// An option's head and its help in a column from 26, lines of at most 79.
std::string Wrapped(const std::string& head, const std::string& help) {
    const size_t column = 26, width = 79;
    std::string text = head;
    if (head.size() >= column)
        text += "\n" + std::string(column, ' ');
    else
        text += std::string(column - head.size(), ' ');
    std::istringstream words(help);
    std::string word;
    size_t used = column;
    bool first = true;
    while (words >> word) {
        if (!first && used + 1 + word.size() > width) {
            text += "\n" + std::string(column, ' ');
            used = column;
            first = true;
        }
        if (!first) text += ' ', ++used;
        text += word;
        used += word.size();
        first = false;
    }
    return text + "\n";
}

}  // namespace

TOptions ParseOptions(const std::vector<std::string>& args) {
    TOptions o;
    bool optionsEnd = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnd || arg.empty() || arg[0] != '-' || arg == "-") {
            o.Inputs.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnd = true;
            continue;
        }
        const size_t eq = arg.find('=');
        const std::string name = arg.substr(0, eq);
        const TOptionRow* row = nullptr;
        for (const TOptionRow& r : Rows())
            if (name == r.Name) row = &r;
        if (!row) throw EUsage(name + ": no such option");
        const bool takesValue = ArgName(*row) != "";
        std::string value;
        if (takesValue) {
            if (eq != std::string::npos) {
                value = arg.substr(eq + 1);
            } else {
                if (i + 1 >= args.size()) throw EUsage(name + ": needs a value (" + ArgName(*row) + ")");
                value = args[++i];
            }
        } else if (eq != std::string::npos) {
            throw EUsage(name + ": takes no value");
        }
        row->Read(o, value);
    }
    return o;
}

std::string HelpText() {
    const TStoredSettings defaults = DefaultStoredSettings();
    std::ostringstream out;
    out << "Usage: vellumark-batch [OPTION]... [FILE|FOLDER]...\n"
           "Stamps the cover onto every picture (.bmp, .jpg, .jpeg, .png, .webp, .tif,\n"
           ".tiff, .heic, .heif, .avif) and writes each result, as the Process button of\n"
           "Vellumark does.\n"
           "\n"
           "Settings are the window's saved ones (or those of --settings FILE); an option\n"
           "given here wins over both. Defaults, when nothing is stored, in brackets.\n";
    bool runPart = false;
    for (const TOptionRow& row : Rows()) {
        if (std::string(row.Name) == "--recursive" && !runPart) {
            out << "\nInputs and the run:\n";
            runPart = true;
        } else if (std::string(row.Name) == "--cover") {
            out << "\nSettings:\n";
        }
        std::string head = std::string("  ") + row.Name;
        const std::string arg = ArgName(row);
        if (!arg.empty()) head += " " + arg;
        std::string help = row.Help;
        if (row.Default) help += " [" + row.Default(defaults) + "]";
        out << Wrapped(head, help);
    }
    out << "\n"
           "A folder means its pictures in name order; hidden entries are skipped and\n"
           "linked folders are not entered. Without --shard the pictures are taken in the\n"
           "order given, as the window takes its list.\n"
           "\n"
           "Exit status: 0 every picture written, 1 a picture failed, 2 a usage error,\n"
           "130 stopped by Ctrl+C (143 by SIGTERM): nothing is left half-written.\n";
    return out.str();
}

}  // namespace vmk::cli
