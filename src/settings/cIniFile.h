#pragma once

#include "private_profile.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <optional>

class cPlaceableWindow;

// A cursor on one entry of an INI file: Path names the file, Section the section, Key the key,
// and Default the text a read yields when the entry is missing. Every member hands the current
// fields to the private-profile store; the class keeps no copy of the file.
//
// Texts are optional: an unset field reaches the store as an absent argument, which means
// something else than an empty text (an absent key lists the section, an absent value removes
// the key). Texts are converted to the system's 8-bit encoding at the store's edge.
//
// Writes and deletions never throw; the store's result is kept in LastReturnCode, and Success
// tells whether it was nonzero. Reads report nothing: a failed read looks like a missing entry.
class cIniFile {
public:
    using OptionalText = std::optional<QString>;

    std::int32_t LastReturnCode() const { return lastReturnCode_; }
    bool Success() const { return lastReturnCode_ != 0; }

    OptionalText Default() const { return default_.text(); }
    void setDefault(const OptionalText& sDefault) { default_ = sDefault; }
    OptionalText Path() const { return path_.text(); }
    void setPath(const OptionalText& sPath) { path_ = sPath; }
    OptionalText Key() const { return key_.text(); }
    void setKey(const OptionalText& sKey) { key_ = sKey; }
    OptionalText Section() const { return section_.text(); }
    void setSection(const OptionalText& sSection) { section_ = sSection; }

    // The stored value, cut to 254 characters, or Default ("" when unset) for a missing entry.
    QString Value() const;
    // Calls `visit` with every key of the current section that Value() finds, in file order, and
    // what Value() reads for it when Default is unset; one look at the section for them all.
    void ForEachValue(const std::function<void(const QString& key, QString value)>& visit) const;
    // The stored value however long it is, or Default.
    QString WholeValue() const;
    // Writes the key with every NUL character removed; an unset value removes the key.
    void setValue(const OptionalText& sValue);
    void DeleteKey();
    void DeleteSection();

    // The key list of the current section: each name followed by a NUL, read through a buffer
    // of 8,192 characters and cut as the store cuts lists that do not fit.
    QString INISection() const;
    // Splits INISection at its NULs: every NUL-terminated piece, an empty one included, is one
    // element; characters after the last NUL are ignored.
    void EnumerateCurrentSection(QStringList& sKey, std::int32_t& iCount) const;
    // Removes the current section with all its keys, as DeleteSection does; the text itself is
    // written nowhere.
    void setINISection(const OptionalText& sSection);
    // The file's section list: each name followed by a NUL, through a buffer of 8,192
    // characters.
    QString Sections() const;
    // Splits Sections at its NULs, skipping empty pieces.
    void EnumerateAllSections(QStringList& sSections, std::int32_t& iCount) const;

    // Writes the window's placement into the current section: "Maximised" unless it is
    // minimised, and "Left", "Top", "Width", "Height" (twips) only in the normal state.
    void SaveFormPosition(const cPlaceableWindow& frmThis);
    // Restores a placement saved by SaveFormPosition, at least lMinWidth x lMinHeight and kept
    // 4 pixels inside the screen; a missing or unreadable key keeps the window's own value.
    // A failure (a member the window lacks, a sum beyond 32 bits) leaves Key and Default as
    // they were and Success false; it is never passed on.
    void LoadFormPosition(cPlaceableWindow& frmThis, std::int32_t lMinWidth = 3000,
                          std::int32_t lMinHeight = 3000);

    // Every key name of the current section, however long the list; unlike INISection's list,
    // an empty first name does not hide the others.
    QStringList AllKeys() const;
    // Calls `visit` with each name that AllKeys() lists, in order: one look at the section for
    // them all, and no list.
    void ForEachKey(const std::function<void(const QString& key)>& visit) const;

    // 0, or the errno value that kept the file from being read.
    int ReadError() const;

    // The current section, all sections of its name together: a fingerprint of its text, and
    // its non-blank lines that no key read returns (comments, repeated keys and sections).
    struct SectionContent {
        std::size_t fingerprint = 0;
        QStringList unreadLines;
    };
    SectionContent CurrentSectionContent() const;

    // Keeps this object's writes in memory until the batch is committed or destroyed, and
    // then replaces the file in one step.
    profile::Batch StartBatch() const;

    // The text as a rounded 32-bit integer (blanks allowed, a half to the even neighbour), or
    // lDefault when it is no number or out of range. Never throws.
    static std::int32_t CLngDefault(const QString& sString, std::int32_t lDefault = 0);

private:
    // The system's 8-bit form of a text.
    static QByteArray toNative(const QString& text);

    // A text with its 8-bit form for the store (null for an absent one), converted once when
    // the text is set.
    class NativeField {
    public:
        NativeField() = default;
        explicit NativeField(const OptionalText& text) { *this = text; }
        NativeField& operator=(const OptionalText& text)
        {
            text_ = text;
            native_ = text ? toNative(*text) : QByteArray();
            return *this;
        }
        const OptionalText& text() const { return text_; }
        const char* native() const { return text_ ? native_.constData() : nullptr; }

    private:
        OptionalText text_;
        QByteArray native_;
    };

    NativeField path_;
    NativeField key_;
    NativeField section_;
    NativeField default_;
    std::int32_t lastReturnCode_ = 0;
};
