#pragma once
// The parse-tree header of one page. The scan reads the tags of a page one
// after the other as a flat sequence and links nothing into a tree, so the
// header stays as it was made: both node pointers null and the flag false.

struct TPharseNode;

struct TPharseTree {
    TPharseNode* Root = nullptr;
    TPharseNode* Current = nullptr;
    bool Built = false;
};
