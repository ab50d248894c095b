#pragma once

#include "model/OutlineTree.h"

#include <QString>

class QIODevice;

// The channel file keeps the lower-case attribute names the phone reads; an exported
// file spells them as other feed readers expect (xmlUrl, htmlUrl, a text on every outline).
enum class OpmlForm { Channel, Export };

// Writes the tree as OPML (UTF-8, CR LF) beside the target and renames it into place,
// so a failure leaves the previous file whole. On failure returns false and, when
// `error` is given, says why.
bool WriteOpmlFile(const QString& path, const OutlineTree& tree, OpmlForm form = OpmlForm::Channel,
                   QString* error = nullptr);

// Writes the document to an open device; false when a write fails.
bool WriteOpml(QIODevice& out, const OutlineTree& tree, OpmlForm form = OpmlForm::Channel);

// Writes one node with its subtree, but not its following siblings; false when a write fails.
bool WriteOutline(QIODevice& out, const OutlineTree& tree, OutlineTree::Node node,
                  OpmlForm form = OpmlForm::Channel);
