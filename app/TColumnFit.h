#pragma once
// Keeps a report list's columns as wide as their heading and the widest value
// they have shown, and gives the room left over to the columns that stretch
// (the address and the type). When even that is wider than the list, the
// list scrolls sideways instead of cutting a value.

#include <QObject>

#include <vector>

class QTreeView;

class TColumnFit : public QObject {
public:
    // stretch: the columns that take the room left over, with their shares.
    TColumnFit(QTreeView* list, std::vector<std::pair<int, int>> stretch);

    // The narrowest width of column that cuts neither its heading (with the
    // sort arrow where the list is sorted by it) nor a value.
    int Needed(int column) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Restart();
    void Measure(int first, int last);
    void Fit();

    QTreeView* FList;
    std::vector<std::pair<int, int>> FStretch;
    std::vector<int> FHeading; // the heading and its margins
    std::vector<int> FValues;  // the widest value shown and its margins
};
