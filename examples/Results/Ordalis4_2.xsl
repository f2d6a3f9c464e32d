<?xml version="1.0" encoding="UTF-8"?>
<!-- Renders an Ordalis script results document as an XHTML page. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform"
                xmlns="http://www.w3.org/1999/xhtml">
  <xsl:output method="xml" indent="yes" encoding="UTF-8"
              doctype-public="-//W3C//DTD XHTML 1.0 Strict//EN"
              doctype-system="http://www.w3.org/TR/xhtml1/DTD/xhtml1-strict.dtd"/>

  <!-- The colour that marks a result word; empty for results that stay uncoloured. -->
  <xsl:template name="colour">
    <xsl:param name="result"/>
    <xsl:choose>
      <xsl:when test="$result = 'Passed'">#00FF00</xsl:when>
      <xsl:when test="$result = 'Failed'">#FF0000</xsl:when>
      <xsl:when test="$result = 'Error'">#E00000</xsl:when>
      <xsl:when test="$result = 'Warning'">#FFFF00</xsl:when>
      <xsl:when test="$result = 'Aborted'">#0099FF</xsl:when>
      <xsl:otherwise/>
    </xsl:choose>
  </xsl:template>

  <!-- A style attribute for [result], left out when the result has no colour. -->
  <xsl:template name="colour-style">
    <xsl:param name="result"/>
    <xsl:variable name="colour">
      <xsl:call-template name="colour">
        <xsl:with-param name="result" select="$result"/>
      </xsl:call-template>
    </xsl:variable>
    <xsl:if test="string-length($colour) &gt; 0">
      <xsl:attribute name="style">background-color: <xsl:value-of select="$colour"/></xsl:attribute>
    </xsl:if>
  </xsl:template>

  <xsl:template match="/odl_script_result">
    <html>
      <head>
        <title>Test Results for <xsl:value-of select="name"/></title>
        <style type="text/css">
          body { font-family: sans-serif; font-size: 10pt; }
          table { border-collapse: collapse; margin: 4px 0 12px 0; }
          th, td { border: 1px solid #808080; padding: 2px 6px; text-align: left; }
          th { background-color: #D0D0D0; }
          li { margin-top: 4px; }
          .rate { font-style: italic; margin-left: 8px; }
        </style>
      </head>
      <body>
        <h1>Test Results for <xsl:value-of select="name"/></h1>
        <table class="summary">
          <xsl:call-template name="colour-style">
            <xsl:with-param name="result" select="node/overall_result"/>
          </xsl:call-template>
          <tr><th>Version Under Test</th><td><xsl:value-of select="versionundertest"/></td></tr>
          <tr><th>Host</th><td><xsl:value-of select="host_name"/></td></tr>
          <tr><th>Date</th><td><xsl:value-of select="date"/></td></tr>
          <tr><th>Time</th><td><xsl:value-of select="time"/></td></tr>
          <tr><th>Result</th><td class="result"><xsl:value-of select="node/overall_result"/></td></tr>
        </table>

        <h2>Test Iteration Results Summary</h2>
        <xsl:variable name="runs" select="count(node/run)"/>
        <xsl:if test="$runs &gt; 1">
          <xsl:variable name="passed" select="count(node/run[result = 'Passed'])"/>
          <p class="iterations">
            <xsl:value-of select="concat($passed, ' of ', $runs, ' runs passed (',
                                         format-number($passed * 100 div $runs, '0.##'), '%)')"/>
          </p>
        </xsl:if>
        <xsl:apply-templates select="node" mode="runs"/>

        <h2>Log Files</h2>
        <table class="logfiles">
          <tr><th>Log File</th></tr>
          <xsl:for-each select="logfiles/logfile">
            <tr><td><a href="{.}"><xsl:value-of select="."/></a></td></tr>
          </xsl:for-each>
        </table>

        <h2>Detailed Test Results</h2>
        <ul>
          <xsl:apply-templates select="node/node" mode="detail"/>
        </ul>
      </body>
    </html>
  </xsl:template>

  <!-- The table of a node's runs, one row per run coloured by its result. -->
  <xsl:template match="node" mode="runs">
    <xsl:if test="run">
      <table class="runs">
        <tr>
          <th>Count</th><th>Iteration</th><th>Date</th><th>Time</th><th>Result</th>
          <th>Time Taken (sec)</th><th>values</th>
        </tr>
        <xsl:for-each select="run">
          <tr>
            <xsl:call-template name="colour-style">
              <xsl:with-param name="result" select="result"/>
            </xsl:call-template>
            <td><xsl:value-of select="position()"/></td>
            <td><xsl:value-of select="iteration"/></td>
            <td><xsl:value-of select="normalize-space(date)"/></td>
            <td><xsl:value-of select="time"/></td>
            <td><xsl:value-of select="result"/></td>
            <td><xsl:value-of select="timetakensec"/></td>
            <td><xsl:apply-templates select="values/item"/></td>
          </tr>
        </xsl:for-each>
      </table>
    </xsl:if>
  </xsl:template>

  <!-- A value: scalars show their value, arrays their elements in brackets. -->
  <xsl:template match="item">
    <xsl:if test="position() &gt; 1">, </xsl:if>
    <xsl:choose>
      <xsl:when test="type = 'Array'">[<xsl:apply-templates select="values/item"/>]</xsl:when>
      <xsl:when test="type = 'String'">"<xsl:value-of select="value"/>"</xsl:when>
      <xsl:otherwise><xsl:value-of select="value"/></xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <!-- One entry of the detailed list: the node's text in its result's colour, its pass rate
       when it ran more than once without passing, its runs, and its children below it. -->
  <xsl:template match="node" mode="detail">
    <li>
      <span class="text">
        <xsl:call-template name="colour-style">
          <xsl:with-param name="result" select="overall_result"/>
        </xsl:call-template>
        <xsl:value-of select="text"/>
      </span>
      <xsl:variable name="runs" select="count(run)"/>
      <xsl:if test="$runs &gt; 1 and overall_result != 'Passed'">
        <xsl:variable name="passed" select="count(run[result = 'Passed'])"/>
        <span class="rate">
          <xsl:value-of select="concat($passed, ' of ', $runs, ' passed (',
                                       format-number($passed * 100 div $runs, '0.##'), '%)')"/>
        </span>
      </xsl:if>
      <xsl:apply-templates select="." mode="runs"/>
      <xsl:if test="node">
        <ul>
          <xsl:apply-templates select="node" mode="detail"/>
        </ul>
      </xsl:if>
    </li>
  </xsl:template>
</xsl:stylesheet>
