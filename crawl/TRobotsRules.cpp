#include "TRobotsRules.h"

#include <QString>
#include <QUrl>

#include <algorithm>
#include <cctype>

namespace {

std::string_view Trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front())))
        s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())))
        s.remove_suffix(1);
    return s;
}

std::string Lower(std::string_view s) {
    std::string lower(s);
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

} // namespace

std::string TRobotsRules::ProductToken(std::string_view userAgent) {
    userAgent = Trim(userAgent);
    return std::string(userAgent.substr(0, userAgent.find_first_of("/ \t")));
}

TRobotsRules TRobotsRules::Parse(std::string_view text, std::string_view agent) {
    const std::string token = Lower(agent);
    // Each group: its agents and its rules. A group's agents are the
    // User-agent lines before its first rule.
    struct TGroup {
        std::vector<std::string> Agents;
        std::vector<TRule> Rules;
    };
    std::vector<TGroup> groups;
    bool inAgents = false;
    while (!text.empty()) {
        const std::size_t end = text.find_first_of("\r\n");
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        line = line.substr(0, line.find('#'));
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos)
            continue;
        const std::string key = Lower(Trim(line.substr(0, colon)));
        const std::string_view value = Trim(line.substr(colon + 1));
        if (key == "user-agent") {
            if (!inAgents || groups.empty())
                groups.emplace_back();
            groups.back().Agents.push_back(Lower(value));
            inAgents = true;
        } else if (key == "allow" || key == "disallow") {
            inAgents = false;
            if (!groups.empty() && !value.empty())
                groups.back().Rules.push_back({std::string(value), key == "allow"});
        }
    }
    TRobotsRules rules;
    for (const bool any : {false, true}) {
        for (const TGroup& group : groups)
            for (const std::string& name : group.Agents)
                if (any ? name == "*" : !token.empty() && name != "*" && token == name) {
                    rules.FRules.insert(rules.FRules.end(), group.Rules.begin(), group.Rules.end());
                    break;
                }
        if (!rules.FRules.empty())
            break;
    }
    return rules;
}

TRobotsRules TRobotsRules::FromAnswer(const TAnswer& answer, std::string_view agent) {
    TRobotsRules rules;
    if (answer.Status >= 500) {
        rules.FNothing = true;
        return rules;
    }
    const bool body = answer.Failure == TFailure::None || answer.Failure == TFailure::TooLarge;
    if (body && answer.Status >= 200 && answer.Status < 300)
        return Parse(answer.Body, agent);
    return rules;
}

bool TRobotsRules::Matches(std::string_view pattern, std::string_view path) {
    // "*" is any run of characters; a final "$" ties the pattern to the end.
    const bool anchored = !pattern.empty() && pattern.back() == '$';
    if (anchored)
        pattern.remove_suffix(1);
    std::size_t p = 0, s = 0, star = std::string_view::npos, mark = 0;
    while (s < path.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            mark = s;
        } else if (p < pattern.size() && pattern[p] == path[s]) {
            ++p, ++s;
        } else if (p == pattern.size() && !anchored) {
            return true;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            s = ++mark;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

bool TRobotsRules::Allows(std::string_view path) const {
    if (FNothing)
        return false;
    const TRule* best = nullptr;
    for (const TRule& rule : FRules) {
        if (!Matches(rule.Pattern, path))
            continue;
        if (best == nullptr || rule.Pattern.size() > best->Pattern.size() ||
            (rule.Pattern.size() == best->Pattern.size() && rule.Allow))
            best = &rule;
    }
    return best == nullptr || best->Allow;
}

std::string TRobotsRules::PathOf(const std::string& address) {
    const QUrl url(QString::fromStdString(address), QUrl::TolerantMode);
    std::string path = url.path(QUrl::FullyEncoded).toStdString();
    if (path.empty())
        path = "/";
    if (url.hasQuery())
        path += "?" + url.query(QUrl::FullyEncoded).toStdString();
    return path;
}
