// Feeds arbitrary bytes through the entry dialogue and the closing report, in
// memory, handed out a few bytes at a time as a pipe would (8-bit, or UTF-16
// or UTF-8 after a byte-order mark), and checks the
// whole output against a model of the dialogue written here from its rules.
// So the dialogue must end; its output must be only the program's own texts
// and newlines, closed by exactly one closing report; and the total written
// must be that of the sales the input books. A first byte from 0x80 to 0xDF
// (never a case's: they start with ASCII or a byte-order mark) also chooses
// a fault (Plan): the input failing or ending at a byte, the output failing
// for good or once, or the input repeated past the console's buffers.
//
// This model is a copy of the program's rules and texts: when those change
// on purpose, change them here too.
#include "closing_report.h"
#include "console.h"
#include "entry_dialogue.h"
#include "price_list.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

// Standard input that hands over only a few bytes a read, as a pipe may, so
// that reads end inside tokens, marks and UTF-16 characters.
// Past its stop, it fails (-1) or ends (0), as stopFails says.
struct Trickle {
    const std::vector<char>* data = nullptr;
    std::size_t stop = 0;
    bool stopFails = false;
    std::size_t next = 0;
    std::size_t piece = 1;
};
std::ptrdiff_t trickleRead(void* state, char* bytes, std::size_t size)
{
    Trickle& trickle = *static_cast<Trickle*>(state);
    const std::size_t count = std::min({trickle.piece, size, trickle.stop - trickle.next});
    if (count == 0) {
        return trickle.stopFails ? -1 : 0;
    }
    std::copy_n(trickle.data->begin() + static_cast<std::ptrdiff_t>(trickle.next), count, bytes);
    trickle.next += count;
    return static_cast<std::ptrdiff_t>(count);
}

// The output, kept; from write number failAt on it refuses (only that one
// when once), and every write after a refused one is counted: the console
// must make none.
struct Capture {
    std::string kept;
    std::size_t writes = 0;
    std::size_t failAt = SIZE_MAX;
    bool once = false;
    bool refused = false;
    std::size_t writesAfterRefusal = 0;
};
bool captureOutput(void* state, const char* bytes, std::size_t size)
{
    Capture& capture = *static_cast<Capture*>(state);
    capture.writesAfterRefusal += capture.refused ? 1 : 0;
    const std::size_t number = capture.writes++;
    if (number == capture.failAt || (number > capture.failAt && !capture.once)) {
        capture.refused = true;
        return false;
    }
    capture.kept.append(bytes, size);
    return true;
}

// What the first bytes choose: the size of each read, and a fault.
enum class Fault : std::uint8_t {
    none,
    inputFails,
    inputEnds,
    outputFails,
    outputFailsOnce,
    repeated,
    repeatedAndFails
};
struct Plan {
    Fault fault = Fault::none;
    std::size_t at = 0; // the input's stop, or the output's write that fails
    std::size_t piece = 1;
};
Plan planOf(const std::uint8_t* data, std::size_t size)
{
    Plan plan;
    if (size == 0) {
        return plan;
    }
    plan.piece = 1U + data[0] % 16U;
    // Repeated only on one first byte in sixteen of theirs: a long input
    // takes the time of a thousand short ones.
    const unsigned chosen = data[0] >> 4U;
    if (chosen < 8 || chosen > 13 || size < 3 || (chosen > 11 && plan.piece != 1)) {
        return plan;
    }
    plan.fault = static_cast<Fault>(chosen - 7);
    plan.at = std::size_t{data[1]} << 8U | data[2];
    if (plan.fault == Fault::repeated || plan.fault == Fault::repeatedAndFails) {
        plan.piece = 1 + plan.at * 4; // large reads, up to 256 KiB, across the buffer's end
    }
    return plan;
}

// The input as the console is given it: repeated, the plan says, until it
// passes the input's buffer.
std::vector<char> inputOf(const std::uint8_t* data, std::size_t size, const Plan& plan)
{
    std::vector<char> input(data, data + size);
    if (plan.fault == Fault::repeated || plan.fault == Fault::repeatedAndFails) {
        while (input.size() < consoleBufferSize + plan.at % 4096) {
            input.insert(input.end(), data, data + size);
        }
    }
    return input;
}

// The input as the model reads it: a UTF-8 mark at the start dropped, UTF-16
// after its mark taken a character at a time, ASCII as itself and any other
// character (a half one at the end too) as '?'.
std::vector<char> asEightBit(const std::vector<char>& bytes)
{
    const std::string start(
        bytes.begin(),
        bytes.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(3, bytes.size())));
    if (start == "\xEF\xBB\xBF") {
        return {bytes.begin() + 3, bytes.end()};
    }
    const bool little = start.rfind("\xFF\xFE", 0) == 0;
    if (!little && start.rfind("\xFE\xFF", 0) != 0) {
        return bytes;
    }
    std::vector<char> text;
    for (std::size_t at = 2; at < bytes.size(); at += 2) {
        if (at + 1 == bytes.size()) {
            text.push_back('?');
            break;
        }
        const auto a = static_cast<unsigned char>(bytes[at]);
        const auto b = static_cast<unsigned char>(bytes[at + 1]);
        const unsigned high = little ? b : a;
        const unsigned low = little ? a : b;
        text.push_back(high == 0 && low < 0x80 ? static_cast<char>(low) : '?');
    }
    return text;
}

struct Token {
    bool present = false; // false at the end of the input
    bool number = false;
    std::int32_t value = 0;
};

bool isSpace(char c)
{
    return std::string_view(" \t\n\r\v\f").find(c) != std::string_view::npos;
}

Token nextToken(const std::vector<char>& bytes, std::size_t& at)
{
    while (at < bytes.size() && isSpace(bytes[at])) {
        ++at;
    }
    const std::size_t start = at;
    while (at < bytes.size() && !isSpace(bytes[at])) {
        ++at;
    }
    Token token;
    token.present = at > start;
    if (!token.present) {
        return token;
    }
    const std::string text(bytes.begin() + static_cast<std::ptrdiff_t>(start),
                           bytes.begin() + static_cast<std::ptrdiff_t>(at));
    const std::size_t digits = text[0] == '+' || text[0] == '-' ? 1 : 0;
    if (text.size() == digits ||
        text.find_first_not_of("0123456789", digits) != std::string::npos) {
        return token;
    }
    // Strip leading zeros so that the range test below sees only real digits.
    const std::size_t first = std::min(text.find_first_not_of('0', digits), text.size() - 1);
    const std::string magnitude = text.substr(first);
    if (magnitude.size() > 10) {
        return token;
    }
    const long long value = std::stoll(magnitude) * (text[0] == '-' ? -1 : 1);
    token.number = value >= INT32_MIN && value <= INT32_MAX;
    token.value = static_cast<std::int32_t>(value);
    return token;
}

// What the program writes, and whether it read to the end of its input.
struct Expected {
    std::string output;
    bool readToTheEnd = false;
};

// A failed read cuts off the token it ends in: that counts for nothing.
Expected modelDialogue(const std::vector<char>& input, bool endFails)
{
    std::vector<char> bytes = asEightBit(input);
    if (endFails) {
        while (!bytes.empty() && !isSpace(bytes.back())) {
            bytes.pop_back();
        }
    }
    bool readToTheEnd = false;
    const std::string longPrompt =
        "Please enter the product number, then the quantity of the product sold.";
    const std::string shortPrompt = "\nEnter a -1 if done submitting: ";
    std::string out;
    std::size_t at = 0;
    std::int32_t productNum = 0;
    std::int32_t quantitySold = 0;
    float total = 0.0F;
    while (productNum != -1 && quantitySold != -1) {
        out += (productNum == 99 ? "" : longPrompt) + shortPrompt;
        const Token product = nextToken(bytes, at);
        if (!product.present) {
            readToTheEnd = true;
            break;
        }
        const auto products = static_cast<std::int32_t>(productPrices.size());
        if (!product.number ||
            (product.value != -1 && (product.value < 1 || product.value > products))) {
            out += "\nInvalid product number. Please enter a number from 1 to 5.";
            productNum = 99;
            continue;
        }
        productNum = product.value;
        if (productNum == -1) {
            continue;
        }
        Token quantity = nextToken(bytes, at);
        while (quantity.present && !quantity.number) {
            out += "\nInvalid quantity. Please enter a whole number: ";
            quantity = nextToken(bytes, at);
        }
        if (!quantity.present) {
            readToTheEnd = true;
            break;
        }
        quantitySold = quantity.value;
        total = addSale(total, quantitySold, productNum);
        out += "\n";
    }
    std::vector<char> amount(64);
    std::snprintf(amount.data(), amount.size(), "%.2f", static_cast<double>(total));
    return {out + "\n\nFinal retail value of all products sold: $" + amount.data() + "\n\n",
            readToTheEnd};
}

// Where the program's output leaves the model's: the line before, and the
// line of each from there on, as a diff shows them.
void reportDifference(const std::string& expected, const std::string& actual)
{
    const auto [mismatch, unused] =
        std::mismatch(expected.begin(), expected.end(), actual.begin(), actual.end());
    const auto at = static_cast<std::size_t>(mismatch - expected.begin());
    const std::size_t lineStart = expected.rfind('\n', at == 0 ? 0 : at - 1);
    const std::size_t from = lineStart == std::string::npos || at == 0 ? 0 : lineStart + 1;
    const std::size_t before = from == 0 ? 0 : expected.rfind('\n', from - 2) + 1;
    const auto line = [](const std::string& text, std::size_t start) {
        const std::size_t end = text.find('\n', start);
        return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    };
    std::fprintf(stderr,
                 "output differs from the model at byte %zu:\n--- the model\n+++ the program\n"
                 " %s\n-%s\n+%s\n",
                 at, from == 0 ? "" : line(expected, before).c_str(), line(expected, from).c_str(),
                 line(actual, from).c_str());
}

void fail(const char* what)
{
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const Plan plan = planOf(data, size);
    const std::vector<char> input = inputOf(data, size, plan);
    const bool inputStops = plan.fault == Fault::inputFails || plan.fault == Fault::inputEnds ||
                            plan.fault == Fault::repeatedAndFails;
    const bool stopFails = inputStops && plan.fault != Fault::inputEnds;
    const std::size_t stop = inputStops ? plan.at % (input.size() + 1) : input.size();
    Trickle trickle{&input, stop, stopFails, 0, plan.piece};
    Capture capture;
    if (plan.fault == Fault::outputFails || plan.fault == Fault::outputFailsOnce) {
        capture.failAt = plan.at % 64;
        capture.once = plan.fault == Fault::outputFailsOnce;
    }

    Console console;
    console.input.source = {trickleRead, &trickle};
    console.output.sink = {captureOutput, &capture};
    std::int32_t productNum = 0;
    std::int32_t quantitySold = 0;
    const float total = runEntryDialogue(console, productNum, quantitySold, 0.0F);
    writeClosingReport(console, total);
    flushConsole(console);

    const Expected expected = modelDialogue(
        {input.begin(), input.begin() + static_cast<std::ptrdiff_t>(stop)}, trickle.stopFails);
    const std::string& actual = capture.kept;
    if (capture.writesAfterRefusal != 0) {
        fail("the console wrote again after a write failed");
    }
    if (outputFailed(console) != capture.refused) {
        fail(capture.refused ? "a failed write was not reported as a failure"
                             : "a failure reported where no write failed");
    }
    if (capture.refused ? expected.output.compare(0, actual.size(), actual) != 0
                        : actual != expected.output) {
        reportDifference(expected.output, actual);
        fail("output differs from the model: if the program's texts or reading rules changed on "
             "purpose, change the model in fuzz/dialogue_fuzzer.cpp to match");
    }
    if (inputFailed(console) != (trickle.stopFails && expected.readToTheEnd)) {
        fail(inputFailed(console) ? "a failed read where the model reads none"
                                  : "a failed read was not reported as a failure");
    }
    return 0;
}
