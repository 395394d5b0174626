#include "music/titles.h"

#include "base/text.h"

void readScoreTitles(const pugi::xml_node& root, std::string* title, std::string* composer) {
    title->clear();
    composer->clear();
    *title = trimmedText(root.child("work").child("work-title").text().get());
    if (title->empty()) {
        *title = trimmedText(root.child("movement-title").text().get());
    }
    for (pugi::xml_node creator : root.child("identification").children("creator")) {
        if (std::string(creator.attribute("type").value()) == "composer") {
            *composer = trimmedText(creator.text().get());
            break;
        }
    }
}
