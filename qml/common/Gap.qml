import QtQuick 2.14

// Vertical space between the rows of a column.
Item {
    width: 1
}
