// The panel's own widgets in Qt Designer, as they look at run time: the
// strip chart, the numeric indicator and control, the ring indicator, the
// output switch, and a visible stand-in for the timer (at run time a timer
// has no widget). Each comes with the properties the panel loader reads,
// as dynamic properties to edit (panel_loader.h lists them).
#pragma once

#include <QtUiPlugin/QDesignerCustomWidgetCollectionInterface>
#include <QtUiPlugin/QDesignerCustomWidgetInterface>

#include <QObject>

#include <functional>

class PanelWidgetInterface : public QObject, public QDesignerCustomWidgetInterface {
    Q_OBJECT
    Q_INTERFACES(QDesignerCustomWidgetInterface)
public:
    using Factory = std::function<QWidget*(QWidget* parent)>;
    PanelWidgetInterface(QString name, QString header, QString tip, QString domXml, Factory create, QObject* parent);

    QString name() const override { return name_; }
    QString group() const override { return QStringLiteral("railmon"); }
    QString toolTip() const override { return tip_; }
    QString whatsThis() const override { return tip_; }
    QString includeFile() const override { return header_; }
    QIcon icon() const override { return {}; }
    bool isContainer() const override { return false; }
    QWidget* createWidget(QWidget* parent) override { return create_(parent); }
    bool isInitialized() const override { return initialized_; }
    void initialize(QDesignerFormEditorInterface*) override { initialized_ = true; }
    QString domXml() const override { return domXml_; }

private:
    QString name_, header_, tip_, domXml_;
    Factory create_;
    bool initialized_ = false;
};

class RailmonDesignerPlugin : public QObject, public QDesignerCustomWidgetCollectionInterface {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QDesignerCustomWidgetCollectionInterface")
    Q_INTERFACES(QDesignerCustomWidgetCollectionInterface)
public:
    explicit RailmonDesignerPlugin(QObject* parent = nullptr);
    QList<QDesignerCustomWidgetInterface*> customWidgets() const override { return widgets_; }

private:
    QList<QDesignerCustomWidgetInterface*> widgets_;
};
