#pragma once

#include <QtGlobal>

#include <expat.h>

// A thin owner of one expat parser. `Derived` receives the callbacks as the member
// functions OnStartElement, OnEndElement and OnCharacterData; the parser hands them
// the object itself as its user data.
template <class Derived> class ExpatImpl {
public:
    ExpatImpl() = default;
    ~ExpatImpl() { Destroy(); }

    ExpatImpl(const ExpatImpl&) = delete;
    ExpatImpl& operator=(const ExpatImpl&) = delete;

    // A parser that takes its encoding from the document, without namespace processing.
    bool Create() {
        Destroy();
        m_p = XML_ParserCreate(nullptr);
        if (!m_p)
            return false;
        XML_SetUserData(m_p, static_cast<Derived*>(this));
        XML_SetStartElementHandler(m_p, &ExpatImpl::StartElementHandler);
        XML_SetEndElementHandler(m_p, &ExpatImpl::EndElementHandler);
        XML_SetCharacterDataHandler(m_p, &ExpatImpl::CharacterDataHandler);
        return true;
    }

    void Destroy() {
        if (m_p)
            XML_ParserFree(m_p);
        m_p = nullptr;
    }

    void SetUnknownEncodingHandler(XML_UnknownEncodingHandler handler, void* data) {
        Q_ASSERT(m_p != NULL);
        XML_SetUnknownEncodingHandler(m_p, handler, data);
    }

    void* GetBuffer(int length) {
        Q_ASSERT(m_p != NULL);
        return XML_GetBuffer(m_p, length);
    }

    bool ParseBuffer(int length, bool isFinal) {
        Q_ASSERT(m_p != NULL);
        return XML_ParseBuffer(m_p, length, isFinal) == XML_STATUS_OK;
    }

    XML_Error GetErrorCode() const {
        Q_ASSERT(m_p != NULL);
        return XML_GetErrorCode(m_p);
    }

    XML_Size GetCurrentLineNumber() const {
        Q_ASSERT(m_p != NULL);
        return XML_GetCurrentLineNumber(m_p);
    }

protected:
    XML_Parser m_p = nullptr;

private:
    static void XMLCALL StartElementHandler(void* userData, const XML_Char* name,
                                            const XML_Char** attributes) {
        static_cast<Derived*>(userData)->OnStartElement(name, attributes);
    }
    static void XMLCALL EndElementHandler(void* userData, const XML_Char* name) {
        static_cast<Derived*>(userData)->OnEndElement(name);
    }
    static void XMLCALL CharacterDataHandler(void* userData, const XML_Char* text, int length) {
        static_cast<Derived*>(userData)->OnCharacterData(text, length);
    }
};

// Lets expat read documents in single-byte encodings it does not know by itself
// (windows-1252, ISO-8859-2 and the like) by building their byte map through iconv.
// Multi-byte and stateful encodings are refused, so such a document still fails.
int XMLCALL SingleByteEncodingHandler(void* data, const XML_Char* name, XML_Encoding* info);
