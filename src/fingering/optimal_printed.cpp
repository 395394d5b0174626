#include "fingering/optimal_printed.h"

#include <cstdlib>
#include <cstring>
#include <pugixml.hpp>

namespace {

// Semitone of a step letter above C, or -1.
int stepSemitone(const char* step) {
    static const char kLetters[] = "C?D?EF?G?A?B";
    for (int i = 0; i < 12; ++i) {
        if (step[0] == kLetters[i] && step[0] != '?' && step[1] == '\0') {
            return i;
        }
    }
    return -1;
}

bool isPianoName(const char* name) {
    return std::strcmp(name, "Acoustic Grand Piano") == 0 ||
           std::strcmp(name, "Grand Piano") == 0 || std::strcmp(name, "Piano") == 0;
}

pugi::xml_node pianoPart(const pugi::xml_document& doc) {
    const pugi::xml_node score = doc.child("score-partwise");
    for (pugi::xml_node entry : score.child("part-list").children("score-part")) {
        for (pugi::xml_node instrument : entry.children("score-instrument")) {
            if (isPianoName(instrument.first_child().child_value())) {
                return score.find_child_by_attribute("part", "id", entry.attribute("id").value());
            }
        }
    }
    return score.child("part");
}

}  // namespace

bool readPrintedFingers(const std::string& xml, std::vector<PrintedFinger>* printed,
                        std::string* error) {
    pugi::xml_document doc;
    const pugi::xml_parse_result parsed = doc.load_buffer(xml.data(), xml.size());
    if (!parsed) {
        *error = std::string("not XML: ") + parsed.description();
        return false;
    }
    printed->clear();
    std::string rightStaff, leftStaff;
    long cursor = 0;
    for (pugi::xml_node measure : pianoPart(doc).children("measure")) {
        for (pugi::xml_node item : measure.children()) {
            const std::string name = item.name();
            const long duration = std::atol(item.child("duration").child_value());
            if (name == "attributes") {
                for (pugi::xml_node clef : item.children("clef")) {
                    const char* number =
                        clef.attribute("number") ? clef.attribute("number").value() : "1";
                    const std::string sign = clef.child_value("sign");
                    if (sign == "G") {
                        rightStaff = number;
                    } else if (sign == "F") {
                        leftStaff = number;
                    }
                }
            } else if (name == "backup") {
                cursor -= duration;
            } else if (name == "forward") {
                cursor += duration;
            } else if (name == "note" && duration > 0) {
                if (item.child("chord")) {
                    cursor -= duration;
                }
                const long onset = cursor;
                cursor += duration;
                const pugi::xml_node pitch = item.child("pitch");
                const char* finger =
                    item.child("notations").child("technical").child_value("fingering");
                const std::string staff = item.child_value("staff");
                const int hand = staff == rightStaff ? 0 : staff == leftStaff ? 1 : -1;
                const int step = stepSemitone(pitch.child_value("step"));
                const int f = std::atoi(finger);
                if (!pitch || hand < 0 || step < 0 || f < 1 || f > 5) {
                    continue;
                }
                const int key = 12 * (std::atoi(pitch.child_value("octave")) - 1) + 3 + step +
                                std::atoi(pitch.child_value("alter"));
                printed->push_back({hand, static_cast<int32_t>(onset), key, f - 1});
            }
        }
    }
    return true;
}
