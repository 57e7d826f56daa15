#include "terminal/usage.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <regex>

namespace halvex {

namespace {

const char *const kTakes = "takes ";

// What an option of CLI11's type takes, where the option says no more.
std::string TakesByType(const CLI::Option &option)
{
    std::string type = option.get_type_name();
    std::smatch range;
    std::string bounds;
    if (std::regex_search(type, range, std::regex(R"(\[(\S+) - (\S+)\])")))
        bounds = " from " + range[1].str() + " to " + range[2].str();
    if (type.compare(0, 4, "UINT") == 0)
        return "a whole number, 0 or more" + bounds;
    if (type.compare(0, 3, "INT") == 0)
        return "a whole number" + bounds;
    if (type.compare(0, 5, "FLOAT") == 0)
        return "a number" + bounds;
    return "a value";
}

// The option a CLI11 message names, such as --baud.
std::string OptionNamed(const std::string &message)
{
    std::smatch found;
    return std::regex_search(message, found, std::regex(R"(--[A-Za-z][-A-Za-z0-9]*)")) ? found.str() : "";
}

// An option of the app or of any of its commands.
const CLI::Option *FindOption(const CLI::App *app, const std::string &name)
{
    if (const CLI::Option *option = app->get_option_no_throw(name))
        return option;
    for (const CLI::App *sub : app->get_subcommands({}))
        if (const CLI::Option *option = FindOption(sub, name))
            return option;
    return nullptr;
}

const CLI::App *Subcommand(const CLI::App *app, const std::string &name)
{
    for (const CLI::App *sub : app->get_subcommands({}))
        if (sub->get_name() == name)
            return sub;
    return nullptr;
}

std::string Names(const CLI::App *app)
{
    std::string names;
    for (const CLI::App *sub : app->get_subcommands({}))
        if (!sub->get_name().empty())
            names += (names.empty() ? "" : ", ") + sub->get_name();
    return names;
}

// Where the command words of args lead down the subcommands: the deepest
// command named, its path ("waypoints put"), and the first word that names
// no command where one was due.
struct CommandWords {
    const CLI::App *level;
    std::string path, unknown, unknownOption;
};

CommandWords FollowCommands(const CLI::App &app, const std::vector<std::string> &args)
{
    CommandWords words{&app, "", "", ""};
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &word = args[i];
        if (word.size() > 1 && word[0] == '-') {
            const CLI::Option *option = FindOption(&app, word.substr(0, word.find('=')));
            if (!option && word != "--help" && word != "-h" && word != "--help-sim") {
                words.unknownOption = word.substr(0, word.find('='));
                return words; // what follows it cannot be told apart from its value
            }
            if (option && option->get_items_expected_max() > 0 && word.find('=') == std::string::npos)
                ++i; // its value
            continue;
        }
        const CLI::App *sub = Subcommand(words.level, word);
        if (!sub) {
            if (!words.level->get_subcommands({}).empty())
                words.unknown = word;
            return words;
        }
        words.level = sub;
        words.path += (words.path.empty() ? "" : " ") + word;
    }
    return words;
}

// How many single-character edits turn a into b.
std::size_t EditDistance(const std::string &a, const std::string &b)
{
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// The known long option nearest to name, if one is near enough to be meant.
std::string NearestOption(const CLI::App *app, const std::string &name, std::string best = "",
                          std::size_t *distance = nullptr)
{
    std::size_t bestDistance = distance ? *distance : 3; // more edits than this is another word
    for (const CLI::Option *option : app->get_options())
        for (const std::string &known : option->get_lnames()) {
            std::size_t d = EditDistance(name, "--" + known);
            if (d < bestDistance) {
                bestDistance = d;
                best = "--" + known;
            }
        }
    for (const CLI::App *sub : app->get_subcommands({}))
        best = NearestOption(sub, name, best, &bestDistance);
    if (distance)
        *distance = bestDistance;
    return best;
}

} // namespace

CLI::Validator Takes(const std::string &what, bool (*valid)(const std::string &value))
{
    return CLI::Validator(
        [what, valid](std::string &value) { return valid(value) ? std::string() : kTakes + what; }, "");
}

bool WholeAboveZero(const std::string &value) { return WholeNotNegative(value) && std::atol(value.c_str()) > 0; }

bool WholeNotNegative(const std::string &value)
{
    if (value.empty() || value.size() > 9)
        return false;
    for (char c : value)
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
    return true;
}

bool NumberAboveZero(const std::string &value)
{
    char *end = nullptr;
    errno = 0;
    double number = std::strtod(value.c_str(), &end);
    return !value.empty() && *end == '\0' && errno == 0 && std::isfinite(number) && number > 0;
}

bool NotBlank(const std::string &value) { return value.find_first_not_of(" \t") != std::string::npos; }

std::string UsageSentence(const CLI::App &app, const CLI::ParseError &error, const std::vector<std::string> &args)
{
    std::string message = error.what();
    CommandWords words = FollowCommands(app, args);
    std::string of = words.path.empty() ? "" : " of " + words.path;
    if (!words.unknown.empty())
        return "unknown command '" + words.unknown + "'" + of + " (" + Names(words.level) + ")";
    if (!words.unknownOption.empty()) {
        std::string nearest = NearestOption(&app, words.unknownOption);
        return "unknown option " + words.unknownOption +
               (nearest.empty() ? " (halvex --help lists them)" : " (did you mean " + nearest + "?)");
    }
    std::string name = OptionNamed(message);
    if (dynamic_cast<const CLI::ExtrasError *>(&error)) {
        std::size_t colon = message.rfind(": ");
        std::string extra = colon == std::string::npos ? message : message.substr(colon + 2);
        if (extra[0] == '-')
            return "unknown option " + extra + " (halvex --help lists them)";
        return words.path.empty() ? "unexpected '" + extra + "'" : words.path + " does not take '" + extra + "'";
    }
    if (dynamic_cast<const CLI::RequiredError *>(&error)) {
        if (words.level->get_require_subcommand_min() > 0)
            return (words.path.empty() ? std::string("a command is needed") : words.path + " needs a command") +
                   ": " + Names(words.level);
        for (const CLI::Option *positional : words.level->get_options())
            if (positional->get_required() && positional->get_name().find('-') != 0 && !positional->count())
                return words.path + " needs a " + positional->get_description();
    }
    const CLI::Option *option = name.empty() ? nullptr : FindOption(&app, name);
    std::size_t takes = message.find(kTakes);
    if (option && takes != std::string::npos)
        return name + " " + message.substr(takes);
    // CLI11's own checks of numbers say too much, or too little.
    bool numberCheck = message.find("not in range") != std::string::npos;
    if (option && (numberCheck || dynamic_cast<const CLI::ConversionError *>(&error)))
        return name + " " + kTakes + TakesByType(*option);
    if (option && dynamic_cast<const CLI::ArgumentMismatch *>(&error) &&
        message.find("At Most") != std::string::npos)
        return name + " given twice";
    if (option && dynamic_cast<const CLI::ArgumentMismatch *>(&error))
        return name + " needs a value: " + option->get_description();
    return message;
}

} // namespace halvex
