// Evaluates arbitrary texts the way register value lists and file lists from the browser or the
// network are evaluated. Whatever the text, the evaluator must return within its time limit,
// convert no more elements than asked for, and never take the process down.
#include "scriptevaluator.h"

#include "fuzzsupport.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Short enough to keep the fuzzer fast, long enough for real work to finish.
    constexpr int timeLimitMs = 100;
    constexpr int elementLimit = 300;
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));
    const ScriptEvaluator::Result result = ScriptEvaluator::evaluateArray(text, elementLimit, timeLimitMs);
    if (result.elements.size() > elementLimit)
        fuzzFailure("converted more elements than asked for");
    if (!result.valid && !result.elements.isEmpty())
        fuzzFailure("an invalid result carries elements");
    if (result.valid && result.isArray &&
        result.elements.size() != qBound(qint64(0), result.length, qint64(elementLimit)))
        fuzzFailure("element count differs from the array's length");
    for (const ScriptEvaluator::Element &element : result.elements) {
        if (element.kind == ScriptEvaluator::Element::Other && !element.text.isEmpty())
            fuzzFailure("an unconverted element carries text");
    }
    return 0;
}
