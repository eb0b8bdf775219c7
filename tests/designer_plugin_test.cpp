// The Designer plugin, loaded as Qt Designer loads it: every widget of the
// panel is offered, is made as the class the panel file names, and comes
// with a form snippet Designer can place.
#include "test_paths.h"

#include <QtUiPlugin/QDesignerCustomWidgetCollectionInterface>

#include <QApplication>
#include <QPluginLoader>
#include <QWidget>
#include <QXmlStreamReader>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

TEST(DesignerPlugin, OffersEveryPanelWidgetAndMakesEachAsTheFormNamesIt)
{
    QPluginLoader loader(QStringLiteral(RAILMON_DESIGNER_PLUGIN));
    QObject* instance = loader.instance();
    ASSERT_TRUE(instance) << loader.errorString().toStdString();
    auto* collection = qobject_cast<QDesignerCustomWidgetCollectionInterface*>(instance);
    ASSERT_TRUE(collection);

    // The class the form names, and what the made widget must be.
    const std::map<std::string, const char*> expected = {
        {"StripChart", "QCustomPlot"}, {"NumericIndicator", "QFrame"},  {"RingIndicator", "QFrame"},
        {"TextMessage", "QFrame"},     {"OutputSwitch", "QPushButton"}, {"NumericControl", "QDoubleSpinBox"},
        {"TimerControl", "QWidget"},
    };
    std::map<std::string, int> offered;
    QWidget form;
    for (QDesignerCustomWidgetInterface* widget : collection->customWidgets()) {
        const std::string name = widget->name().toStdString();
        SCOPED_TRACE(name);
        ++offered[name];
        ASSERT_TRUE(expected.count(name));
        std::unique_ptr<QWidget> made(widget->createWidget(&form));
        ASSERT_TRUE(made);
        EXPECT_TRUE(made->inherits(expected.at(name))) << made->metaObject()->className();
        if (name != "TimerControl") {
            EXPECT_EQ(made->metaObject()->className(), name) << "not the run-time class";
        }
        EXPECT_FALSE(widget->includeFile().isEmpty());
        EXPECT_EQ(widget->group(), "railmon");

        QXmlStreamReader xml(widget->domXml());
        bool namesClass = false;
        while (!xml.atEnd())
            if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == QLatin1String("widget"))
                namesClass = xml.attributes().value(QLatin1String("class")) == widget->name();
        EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
        EXPECT_TRUE(namesClass);
    }
    EXPECT_EQ(offered.size(), expected.size());
}

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
