#include "RunTestUtil.h"

#include "update/NewsFeedFile.h"
#include "update/NewsFeedOutput.h"

#include <QApplication>
#include <QFile>
#include <QSignalSpy>
#include <QWidget>

#include <algorithm>

namespace pellavo::test {

NffContent readNff(QIODevice& device) {
    NffContent nff;
    NewsFeedReader reader(device);
    if (!reader.ReadHeader())
        return nff;
    nff.sync = reader.SyncFlag();
    nff.channel = reader.ChannelFile();
    for (NewsFeedReader::Record record; reader.ReadNext(record);) {
        nff.urls << record.url;
        nff.contents << record.content;
    }
    nff.valid = reader.AtEnd() && !reader.HasError();
    return nff;
}

NffContent readNff(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? readNff(file) : NffContent();
}

bool anyWindowShown() {
    const QWidgetList windows = QApplication::topLevelWidgets();
    return std::any_of(windows.begin(), windows.end(), [](QWidget* w) { return w->isVisible(); });
}

UpdateEngine::Outcome runJob(const UpdateJob& job, const QString& output,
                             void (UpdateEngine::*stage)(int, int), QList<QList<QVariant>>* progress) {
    auto file = NewsFeedOutput::Open(output, nullptr);
    if (!file)
        return {};
    UpdateEngine engine(job, std::move(file));
    QSignalSpy spy(&engine, stage);
    engine.Start();
    engine.Wait();
    *progress = spy;
    return engine.GetOutcome();
}

} // namespace pellavo::test
