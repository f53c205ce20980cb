#include "platform/qt/TDBGridAccessible.h"

#include "platform/qt/TDBGrid.h"

namespace platform {

namespace {

QAccessibleInterface* GridFactory(const QString& className, QObject* object) {
  if (className == QLatin1String(TDBGrid::staticMetaObject.className()) && object != nullptr &&
      object->isWidgetType()) {
    return new TDBGridAccessible(static_cast<TDBGrid*>(object));
  }
  return nullptr;
}

}  // namespace

TDBGridAccessible::TDBGridAccessible(TDBGrid* grid) : QAccessibleWidget(grid, QAccessible::Table) {}

QString TDBGridAccessible::text(QAccessible::Text t) const {
  const auto* grid = static_cast<const TDBGrid*>(widget());
  switch (t) {
    case QAccessible::Name: {
      const QString name = QAccessibleWidget::text(t);
      return name.isEmpty() ? grid->objectName() : name;
    }
    case QAccessible::Value: {
      if (grid->ColumnCount() == 0) return {};
      const TGridColumn& column = grid->Column(grid->SelectedColumn());
      const QString title = column.title.isEmpty() ? column.fieldName : column.title;
      return title + QStringLiteral(": ") + grid->CurrentCellText();
    }
    default:
      return QAccessibleWidget::text(t);
  }
}

void TDBGridAccessible::Install() {
  static const bool installed = [] {
    QAccessible::installFactory(&GridFactory);
    return true;
  }();
  (void)installed;
}

}  // namespace platform
