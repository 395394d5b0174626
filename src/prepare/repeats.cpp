#include "prepare/repeats.h"

// Sections: reading the marks of each measure; playing them in order.

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Longest order played, in times the measures written: a guard against marks that would
// repeat for ever.
constexpr size_t kMostPasses = 32;

std::string lowerTrimmed(const char* text) {
    std::string out;
    for (const char* c = text; *c != '\0'; ++c) {
        out += static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
    }
    const size_t first = out.find_first_not_of(" \t\r\n");
    const size_t last = out.find_last_not_of(" \t\r\n");
    return first == std::string::npos ? std::string() : out.substr(first, last - first + 1);
}

bool saysYes(const pugi::xml_node& sound, const char* name) {
    const pugi::xml_attribute a = sound.attribute(name);
    return a && !lowerTrimmed(a.value()).empty() && lowerTrimmed(a.value()) != "no";
}

// "1", "1, 2", "1.2." and "1 2": every number written.
std::vector<int> endingNumbers(const char* text) {
    std::vector<int> numbers;
    for (const char* c = text; *c != '\0';) {
        if (std::isdigit(static_cast<unsigned char>(*c))) {
            char* end = nullptr;
            const long value = std::strtol(c, &end, 10);
            if (value >= 1 && value <= 100) {
                numbers.push_back(static_cast<int>(value));
            }
            c = end;
        } else {
            ++c;
        }
    }
    return numbers.empty() ? std::vector<int>{1} : numbers;
}

struct Found {
    bool codaSign = false;  // a coda sign; may also stand beside "To Coda"
    bool codaSound = false;
};

void readSound(const pugi::xml_node& sound, RepeatMarks* m, Found* found) {
    m->segno = m->segno || saysYes(sound, "segno");
    found->codaSound = found->codaSound || saysYes(sound, "coda");
    m->fine = m->fine || saysYes(sound, "fine");
    m->daCapo = m->daCapo || saysYes(sound, "dacapo");
    m->dalSegno = m->dalSegno || saysYes(sound, "dalsegno");
    m->toCoda = m->toCoda || saysYes(sound, "tocoda");
}

void readWords(const std::string& words, RepeatMarks* m) {
    const auto has = [&words](const char* what) { return words.find(what) != std::string::npos; };
    m->daCapo = m->daCapo || has("d.c.") || has("da capo") || words == "d.c" || words == "dc";
    m->dalSegno = m->dalSegno || has("d.s.") || has("dal segno") || words == "d.s" || words == "ds";
    m->toCoda = m->toCoda || has("to coda");
    m->fine = m->fine || words == "fine" || words == "fine.";
}

}  // namespace

std::vector<RepeatMarks> readRepeatMarks(const std::vector<pugi::xml_node>& measures) {
    std::vector<RepeatMarks> marks(measures.size());
    std::vector<int> open;  // the numbers of an ending that started and has not stopped
    for (size_t i = 0; i < measures.size(); ++i) {
        RepeatMarks& m = marks[i];
        Found found;
        bool stops = false;
        for (const pugi::xml_node& child : measures[i].children()) {
            const char* name = child.name();
            // Most children are notes: the first letter turns them away without a comparison.
            if (name[0] != 'b' && name[0] != 's' && name[0] != 'd') {
                continue;
            }
            if (std::strcmp(name, "barline") == 0) {
                for (const pugi::xml_node& b : child.children()) {
                    if (std::strcmp(b.name(), "repeat") == 0) {
                        const std::string direction =
                            lowerTrimmed(b.attribute("direction").value());
                        if (direction == "forward") {
                            m.forward = true;
                        } else if (direction == "backward") {
                            const int times = std::atoi(b.attribute("times").value());
                            m.timesWritten = times >= 1;
                            m.backward = times >= 1 ? std::min(times, 16) : 2;
                        }
                    } else if (std::strcmp(b.name(), "ending") == 0) {
                        const std::string type = lowerTrimmed(b.attribute("type").value());
                        if (type == "start") {
                            open = endingNumbers(b.attribute("number").value());
                        } else if (type == "stop" || type == "discontinue") {
                            if (open.empty()) {
                                open = endingNumbers(b.attribute("number").value());
                            }
                            stops = true;
                        }
                    } else if (std::strcmp(b.name(), "segno") == 0) {
                        m.segno = true;
                    } else if (std::strcmp(b.name(), "coda") == 0) {
                        found.codaSign = true;
                    }
                }
            } else if (std::strcmp(name, "sound") == 0) {
                readSound(child, &m, &found);
            } else if (std::strcmp(name, "direction") == 0) {
                for (const pugi::xml_node& d : child.children()) {
                    if (std::strcmp(d.name(), "sound") == 0) {
                        readSound(d, &m, &found);
                    } else if (std::strcmp(d.name(), "direction-type") == 0) {
                        for (const pugi::xml_node& t : d.children()) {
                            if (std::strcmp(t.name(), "segno") == 0) {
                                m.segno = true;
                            } else if (std::strcmp(t.name(), "coda") == 0) {
                                found.codaSign = true;
                            } else if (std::strcmp(t.name(), "words") == 0) {
                                readWords(lowerTrimmed(t.text().get()), &m);
                            }
                        }
                    }
                }
            }
        }
        // A coda sign printed beside "To Coda" marks where the jump is taken, not its target.
        m.coda = found.codaSound || (found.codaSign && !m.toCoda);
        m.ending = open;
        if (stops) {
            open.clear();
        }
    }
    return marks;
}

std::vector<size_t> playOrder(const std::vector<RepeatMarks>& marks) {
    const size_t n = marks.size();
    // Each run of consecutive measures in endings is one set of endings; its largest number is
    // the number of passes it asks for, and its last ending the one played after a jump.
    std::vector<int> setLargest(n, 0);
    for (size_t i = 0; i < n;) {
        size_t j = i;
        int largest = 0;
        while (j < n && !marks[j].ending.empty()) {
            largest = std::max(largest,
                               *std::max_element(marks[j].ending.begin(), marks[j].ending.end()));
            ++j;
        }
        for (size_t k = i; k < j; ++k) {
            setLargest[k] = largest;
        }
        i = j > i ? j : i + 1;
    }
    auto inEnding = [&](size_t i, int pass) {
        return std::find(marks[i].ending.begin(), marks[i].ending.end(), pass) !=
               marks[i].ending.end();
    };

    std::vector<size_t> order;
    std::vector<bool> jumpTaken(n, false);
    size_t sectionStart = 0;
    int pass = 1;
    bool jumped = false;    // a D.C. or D.S. was taken: repeats are played once
    bool cameBack = false;  // arrived at sectionStart by a repeat
    size_t i = 0;
    while (i < n && order.size() < kMostPasses * n) {
        const RepeatMarks& m = marks[i];
        if (m.forward && !cameBack) {
            sectionStart = i;
            pass = 1;
        }
        cameBack = false;
        if (!m.ending.empty()) {
            const bool played = jumped ? inEnding(i, setLargest[i]) : inEnding(i, pass);
            if (!played) {
                ++i;
                continue;
            }
        } else if (i > 0 && !marks[i - 1].ending.empty() && !order.empty() &&
                   order.back() + 1 == i) {
            // Out of the endings: a later backward repeat goes back no further than here.
            sectionStart = i;
            pass = 1;
        }
        order.push_back(i);
        if (jumped && m.fine) {
            break;
        }
        if (jumped && m.toCoda) {
            size_t coda = i + 1;
            while (coda < n && !marks[coda].coda) {
                ++coda;
            }
            if (coda < n) {
                i = coda;
                continue;
            }
        }
        if (m.backward > 0 && !jumped) {
            const int times = m.timesWritten || m.ending.empty()
                                  ? m.backward
                                  : std::max(m.backward, setLargest[i]);
            if (pass < times) {
                ++pass;
                i = sectionStart;
                cameBack = true;
                continue;
            }
            pass = 1;
            sectionStart = i + 1;
        } else if (m.backward > 0) {
            sectionStart = i + 1;
        }
        if ((m.daCapo || m.dalSegno) && !jumpTaken[i]) {
            jumpTaken[i] = true;
            jumped = true;
            pass = 1;
            size_t target = 0;
            if (m.dalSegno && !m.daCapo) {
                size_t found = n;
                for (size_t k = 0; k < n; ++k) {
                    if (marks[k].segno && (found == n || k <= i)) {
                        found = k;
                    }
                }
                target = found < n ? found : 0;
            }
            sectionStart = target;
            i = target;
            cameBack = true;
            continue;
        }
        ++i;
    }
    return order;
}
