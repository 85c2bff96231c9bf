#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <vector>

#include "data/tables.h"

namespace ondrel {

struct AppContext;
class DbConnection;

// 定型文: stock phrases per category and a common list, in the system
// database so that every workstation offers the same.
inline constexpr int kCommonPhrases = -1;
// A phrase as long as a long memo; an empty one is no phrase.
inline constexpr int kPhraseLimit = 100000;

struct Phrase {
    int category = kCommonPhrases;
    QString text;
};

// Every phrase: by category (the common ones first), each list in its order.
// A database made before phrases has none.
std::vector<Phrase> ReadPhrases(DbConnection& cn);
std::vector<Phrase> ReadPhrases(AppContext& ctx);
// What a page offers: its own list, then the common one.
QStringList PhrasesFor(const std::vector<Phrase>& all, int category);
QStringList PhraseList(const std::vector<Phrase>& all, int category);
// Why a phrase cannot be kept (empty, too long), or empty.
QString PhraseProblem(const QString& text);
// Replaces one list in the caller's transaction.
void WritePhrases(DbConnection& cn, int category, const QStringList& texts);
// The same as one command; a text that cannot be kept is a ToldError.
void SavePhrases(AppContext& ctx, int category, const QStringList& texts);

// CSV (UTF-8): 分類,文言 — 分類 is 共通 or the category's number 1 … 7.
QByteArray PhrasesCsv(const std::vector<Phrase>& phrases);

namespace tables {
// tblMasPhrase (made when missing, as the staff table).
QStringList PhraseStatements(Engine engine);
}  // namespace tables

}  // namespace ondrel
